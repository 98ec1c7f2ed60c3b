#include "pipeline/action_queue.h"

#include <thread>

namespace velkan {

bool isStopItem(const WorkItem& item) {
  auto object = item.find("object");
  return object == item.end() || object->second.empty();
}

CActionQueue::CActionQueue(const std::string& name)
    : name_(name), mutexName_(name + "Mutex"), signal_(name), mutex_(mutexName_, 1) {}

CActionQueue::~CActionQueue() = default;

bool CActionQueue::put(UploadItem item) { return putEntry(std::move(item)); }

bool CActionQueue::put(WorkItem item) { return putEntry(std::move(item)); }

UploadItem& CActionQueue::take(UploadItem& out) {
  Entry entry = takeEntry();
  if (auto* map = std::get_if<WorkItem>(&entry)) {
    out = UploadItem::fromWorkItem(std::move(*map));
  } else {
    out = std::move(std::get<UploadItem>(entry));
  }
  return out;
}

WorkItem& CActionQueue::take(WorkItem& out) {
  Entry entry = takeEntry();
  if (auto* record = std::get_if<UploadItem>(&entry)) {
    out = record->isStop() ? WorkItem{} : std::move(*record).toWorkItem();
  } else {
    out = std::move(std::get<WorkItem>(entry));
  }
  return out;
}

bool CActionQueue::putEntry(Entry entry) {
  {
    std::lock_guard<std::mutex> hold(holdMutex_);
    mutex_.lock(0);
    {
      std::lock_guard<std::mutex> lock(itemsMutex_);
      items_.push_back(std::move(entry));
    }
    itemsChanged_.notify_one();
    signal_.signal();
    mutex_.unlock(0);
  }
  // The taker is woken by the notification: no pause for it is needed, a
  // yield lets it run at once on a busy machine.
  std::this_thread::yield();
  return true;
}

CActionQueue::Entry CActionQueue::takeEntry() {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(holdMutex_);
      mutex_.lock(0);
      std::unique_lock<std::mutex> lock(itemsMutex_);
      if (!items_.empty()) {
        Entry out = std::move(items_.front());
        items_.pop_front();
        lock.unlock();
        mutex_.unlock(0);
        return out;
      }
      lock.unlock();
      mutex_.unlock(0);
    }  // the hold ends here: never wait while holding it
    std::unique_lock<std::mutex> lock(itemsMutex_);
    itemsChanged_.wait(lock, [this] { return !items_.empty(); });
  }
}

}  // namespace velkan
