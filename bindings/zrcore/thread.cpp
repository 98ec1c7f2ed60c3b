#include "bindings/zrcore/thread.h"

#include <algorithm>

namespace ZR {

CThread::~CThread() = default;

bool CThread::threadStart() {
  stop_.store(false, std::memory_order_release);
  return thread_.start([this] { run(); });
}

void CThread::threadStop() { stop_.store(true, std::memory_order_release); }

void CThread::join() { thread_.join(); }

CThreadGroup& CThreadGroup::processGroup() {
  static CThreadGroup* group = new CThreadGroup;  // used until exit
  return *group;
}

void CThreadGroup::add(platform::Thread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  members_.push_back(thread);
}

void CThreadGroup::remove(platform::Thread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  members_.erase(std::remove(members_.begin(), members_.end(), thread), members_.end());
}

CNamedMutex::CNamedMutex(const std::string& name, int) : mutex_(name) {}

CNamedMutex::~CNamedMutex() = default;

bool CNamedMutex::lock(int) { return mutex_.lock(); }

bool CNamedMutex::unlock(int) { return mutex_.unlock(); }

}  // namespace ZR
