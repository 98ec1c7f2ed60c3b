// Threads and locks of the common library, on top of platform/.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

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
