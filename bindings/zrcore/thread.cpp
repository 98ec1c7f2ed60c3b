#include "bindings/zrcore/thread.h"

namespace ZR {

CThread::~CThread() = default;

bool CThread::threadStart() {
  stop_.store(false, std::memory_order_release);
  return thread_.start([this] { run(); });
}

void CThread::threadStop() { stop_.store(true, std::memory_order_release); }

void CThread::join() { thread_.join(); }

CNamedMutex::CNamedMutex(const std::string& name, int) : mutex_(name) {}

CNamedMutex::~CNamedMutex() = default;

bool CNamedMutex::lock(int) { return mutex_.lock(); }

bool CNamedMutex::unlock(int) { return mutex_.unlock(); }

}  // namespace ZR
