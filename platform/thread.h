// A thread that another thread can stop and let go on at any point of its
// work, the way a throttling controller needs it.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class Thread {
 public:
  Thread();
  // Lets a suspended thread go on and waits for its end.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Runs `body` on a new thread. False when the system refused or the thread
  // was already started.
  bool start(std::function<void()> body);

  // Waits for the body to return. Safe to call more than once.
  void join();

  // Stops the thread wherever it is and returns once it has stopped, or
  // after half a second when the thread cannot take the request yet (only
  // under ThreadSanitizer, which holds signals back while a thread waits
  // for a lock); such a thread stops as soon as it can. Calls nest: each suspend needs one resume. Returns the previous count,
  // or -1 when the thread was never started. A thread that has already
  // ended counts as stopped.
  // REQUIRES: not called from the thread itself.
  int suspend();

  // Undoes one suspend; the thread runs again when the count reaches zero.
  // Returns the previous count (0 when it was not suspended), -1 when the
  // thread was never started.
  int resume();

  // True once the body has returned.
  bool finished() const;

  struct Control;

 private:
  std::unique_ptr<Control> control_;
};

// A small number naming the calling thread, stable for its lifetime.
unsigned long currentThreadId();

}  // namespace platform
