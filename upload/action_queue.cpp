#include "upload/action_queue.h"

#include "platform/clock.h"

namespace velkan {

bool isStopItem(const WorkItem& item) {
  auto object = item.find("object");
  return object == item.end() || object->second.empty();
}

CActionQueue::CActionQueue(const std::string& name) : name_(name), mutexName_(name + "Mutex"), signal_(name) {}

CActionQueue::~CActionQueue() = default;

bool CActionQueue::put(WorkItem item) {
  {
    ZR::CNamedMutex mutex(mutexName_, 1);
    mutex.lock(0);
    {
      std::lock_guard<std::mutex> lock(itemsMutex_);
      items_.push_back(std::move(item));
    }
    itemsChanged_.notify_one();
    signal_.signal();
    mutex.unlock(0);
  }
  platform::sleepMs(1);
  return true;
}

WorkItem& CActionQueue::take(WorkItem& out) {
  for (;;) {
    {
      ZR::CNamedMutex mutex(mutexName_, 1);
      mutex.lock(0);
      std::lock_guard<std::mutex> lock(itemsMutex_);
      if (!items_.empty()) {
        out.clear();
        out = std::move(items_.front());
        items_.pop_front();
        return out;
      }
    }  // the hold ends here: never wait while holding it
    std::unique_lock<std::mutex> lock(itemsMutex_);
    itemsChanged_.wait(lock, [this] { return !items_.empty(); });
  }
}

}  // namespace velkan
