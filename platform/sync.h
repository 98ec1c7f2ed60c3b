// Kernel objects shared by name between threads and processes of the same
// user: a mutex and an auto-reset event.
#pragma once

#include <string>

namespace platform {

// A mutex that every object of the same name, in any process of the user,
// shares. A hold ends with unlock(), with the object's destruction, or with
// the end of the process. REQUIRES: external synchronization per object.
class NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // False when the kernel object could not be created.
  bool valid() const;
  // Returns once the mutex is held; false when it cannot be taken.
  bool lock();
  bool unlock();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool held_ = false;
};

// An auto-reset event shared by name: signal() lets one waiter through (or
// the next one to wait); signals do not accumulate beyond one.
class NamedEvent {
 public:
  explicit NamedEvent(const std::string& name);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool valid() const { return handle_ != nullptr; }
  bool signal();
  // Waits for a signal; timeoutMs < 0 waits without limit. True when
  // signalled, false on time-out or failure.
  bool wait(int timeoutMs);

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
