// A first-in first-out queue of work items between two threads of one
// process, guarded by the named kernel objects of its name.
#pragma once

#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "bindings/zrcore/thread.h"

namespace velkan {

// A map from key to value; one without a non-empty "object" is a stop item.
using WorkItem = std::map<std::string, std::string>;

bool isStopItem(const WorkItem& item);

// Our own key beside the four of the work item: the version of the origin
// (platform::FileInfo) that preparation read, so that a copy of an older
// version is never sent as the current one.
constexpr const char* kPreparedFromKey = "preparedFrom";

constexpr const char* kTranscodeQueueName = "OrbekCacheActionQueueTranscode";
constexpr const char* kUploadQueueName = "OrbekCacheActionQueueUpload";

// Items are copied in and out. The named mutex (name + "Mutex") and event
// (the name) are shared with every process that uses the same name, but
// each process has its own items: a taker waits on a signal of its own
// process, so another process's put can neither take its wake-up nor hand
// it a foreign item. Unbounded. Safe for one producer and one consumer
// thread (and more).
class CActionQueue {
 public:
  explicit CActionQueue(const std::string& name);
  virtual ~CActionQueue();
  CActionQueue(const CActionQueue&) = delete;
  CActionQueue& operator=(const CActionQueue&) = delete;

  // Waits until an item is there, moves the oldest into `out` and returns it.
  virtual WorkItem& take(WorkItem& out);
  // Appends a copy and wakes a waiting taker; yields, never sleeps. Returns true.
  virtual bool put(WorkItem item);

  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::string mutexName_;
  ZR::CSyncEvent signal_;
  // The named mutex is opened once for the queue's life (not per call, as
  // opening it costs a system call or two); holdMutex_ lets one thread of
  // this process hold it at a time, as a lock of a file is the process's.
  ZR::CNamedMutex mutex_;
  std::mutex holdMutex_;
  std::mutex itemsMutex_;
  std::condition_variable itemsChanged_;
  std::list<WorkItem> items_;
};

}  // namespace velkan
