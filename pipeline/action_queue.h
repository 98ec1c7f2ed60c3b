// A first-in first-out queue of work items between two threads of one
// process, guarded by the named kernel objects of its name.
#pragma once

#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <variant>

#include "bindings/zrcore/thread.h"
#include "pipeline/upload_item.h"
#include "pipeline/work_item.h"

namespace velkan {

constexpr const char* kTranscodeQueueName = "OrbekCacheActionQueueTranscode";
constexpr const char* kUploadQueueName = "OrbekCacheActionQueueUpload";

// Items are moved in and out. The named mutex (name + "Mutex") and event
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
  UploadItem& take(UploadItem& out);
  // Appends the item and wakes a waiting taker; yields, never sleeps. Returns true.
  bool put(UploadItem item);
  // The same for the work-item map that the queue's callers outside our
  // own workers put and take: a map put is taken as it was put; a record
  // taken as a map, or a map as a record, is converted at this edge (a
  // stop item stays one).
  virtual WorkItem& take(WorkItem& out);
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
  using Entry = std::variant<UploadItem, WorkItem>;
  bool putEntry(Entry entry);
  Entry takeEntry();
  std::list<Entry> items_;
};

}  // namespace velkan
