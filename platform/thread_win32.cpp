#include <pthread.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/thread.h"
#include "platform/win32.h"

// Threads are std::threads of the posix flavour of mingw-w64; the system
// thread behind one, which SuspendThread needs, comes from
// pthread_gethandle. The suspension count is kept here rather than read
// from the system so that a thread that has already ended still counts.
namespace platform {

struct Thread::Control {
  std::thread thread;
  HANDLE handle = nullptr;  // owned by the pthread; valid until joined
  std::mutex controllerMutex;  // serialises suspend/resume callers
  int suspendCount = 0;
  std::atomic<bool> finished{false};
  bool started = false;
};

Thread::Thread() : control_(std::make_unique<Control>()) {}

Thread::~Thread() {
  while (control_->started && resume() > 1) {
  }
  join();
}

bool Thread::start(std::function<void()> body) {
  Control* c = control_.get();
  if (c->started) return false;
  try {
    c->thread = std::thread([c, body = std::move(body)] {
      body();
      c->finished.store(true);
    });
  } catch (const std::system_error&) {
    return false;
  }
  c->handle = pthread_gethandle(c->thread.native_handle());
  c->started = true;
  return true;
}

void Thread::join() {
  if (control_->thread.joinable()) control_->thread.join();
}

int Thread::suspend() {
  Control* c = control_.get();
  if (!c->started) return -1;
  std::lock_guard<std::mutex> lock(c->controllerMutex);
  int previous = c->suspendCount++;
  if (previous == 0 && SuspendThread(c->handle) != static_cast<DWORD>(-1)) {
    // SuspendThread only asks; reading the context waits until the thread
    // has really stopped.
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(c->handle, &context);
  }
  return previous;
}

int Thread::resume() {
  Control* c = control_.get();
  if (!c->started) return -1;
  std::lock_guard<std::mutex> lock(c->controllerMutex);
  int previous = c->suspendCount;
  if (previous == 0) return 0;
  c->suspendCount = previous - 1;
  if (previous == 1) ResumeThread(c->handle);
  return previous;
}

bool Thread::finished() const { return control_->finished.load(); }

unsigned long currentThreadId() { return GetCurrentThreadId(); }

}  // namespace platform
