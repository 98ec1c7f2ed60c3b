// Threads and locks of the common library, on top of platform/.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "platform/thread.h"

namespace ZR {

// A thread whose body is the virtual run(). The owner may suspend and
// resume it through handle(). A derived class must join() in its own
// destructor when run() may still be working, since run() belongs to it.
class CThread {
 public:
  CThread() = default;
  virtual ~CThread();
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Starts run() on a new thread. False when it could not be started.
  virtual bool threadStart();
  // Asks run() to end; run() reads stopRequested() where it can stop.
  virtual void threadStop();
  virtual int run() = 0;

  // Waits for run() to return.
  void join();
  bool stopRequested() const { return stop_.load(std::memory_order_acquire); }
  platform::Thread& handle() { return thread_; }

 private:
  platform::Thread thread_;
  std::atomic<bool> stop_{false};
};

// Threads that are stopped and let go together, as the CPU throttling of a
// run does: the run thread's cycle suspends every member with it.
class CThreadGroup {
 public:
  CThreadGroup() = default;
  CThreadGroup(const CThreadGroup&) = delete;
  CThreadGroup& operator=(const CThreadGroup&) = delete;

  // The process's group. Never deleted.
  static CThreadGroup& processGroup();

  // A thread joins or leaves; leaving waits until no cycle is using the
  // group, so a thread is never resumed after it is gone.
  void add(platform::Thread* thread);
  void remove(platform::Thread* thread);
  // Held from before the members are suspended until after they are
  // resumed; members() is valid while it is held.
  std::unique_lock<std::mutex> lockForCycle() { return std::unique_lock<std::mutex>(mutex_); }
  const std::vector<platform::Thread*>& members() const { return members_; }

  // The share of each cycle the members may work, in percent (100: not
  // throttled). Work that would spread over more threads stays on one
  // while it is below 100, or the process would take more than its share.
  void setSharePercent(int percent) { sharePercent_.store(percent, std::memory_order_relaxed); }
  int sharePercent() const { return sharePercent_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int> sharePercent_{100};
  std::mutex mutex_;
  std::vector<platform::Thread*> members_;
};

// A mutex shared by name between threads and processes.
class CNamedMutex {
 public:
  // The second parameter is kept for the callers' sake.
  CNamedMutex(const std::string& name, int reserved);
  // Ends a hold that is still in place.
  ~CNamedMutex();
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;

  // Returns once the mutex is held (true), false when it cannot be taken.
  bool lock(int reserved);
  bool unlock(int reserved);

 private:
  platform::NamedMutex mutex_;
};

// An auto-reset event shared by name.
class CSyncEvent {
 public:
  explicit CSyncEvent(const std::string& name) : event_(name) {}
  bool signal() { return event_.signal(); }
  // timeoutMs -1 waits without limit. True when signalled.
  bool wait(int timeoutMs) { return event_.wait(timeoutMs); }

 private:
  platform::NamedEvent event_;
};

class CMutex {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a CMutex for its own lifetime.
class CSyncGuard {
 public:
  explicit CSyncGuard(CMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~CSyncGuard() { mutex_.unlock(); }
  CSyncGuard(const CSyncGuard&) = delete;
  CSyncGuard& operator=(const CSyncGuard&) = delete;

 private:
  CMutex& mutex_;
};

}  // namespace ZR
