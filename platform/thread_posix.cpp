#include "platform/thread.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

namespace platform {

struct Thread::Control {
  std::thread thread;
  std::function<void()> body;
  std::mutex controllerMutex;  // serialises suspend/resume callers
  std::atomic<int> suspendCount{0};
  std::atomic<unsigned> requestedEpoch{0};
  unsigned acknowledgedEpoch = 0;  // touched only by the controlled thread
  std::atomic<bool> finished{false};
  sem_t registered;
  sem_t acknowledged;
  bool started = false;

  Control() {
    sem_init(&registered, 0, 0);
    sem_init(&acknowledged, 0, 0);
  }
  ~Control() {
    sem_destroy(&registered);
    sem_destroy(&acknowledged);
  }
};

namespace {

thread_local Thread::Control* tlsControl = nullptr;

int suspendSignal() { return SIGRTMIN + 3; }
int resumeSignal() { return SIGRTMIN + 4; }

// Runs on the controlled thread. While the suspend count is above zero it
// stays here; every new suspend request is acknowledged once, so the
// controller knows the thread is really stopped. The resume signal is
// blocked outside sigsuspend, so a resume that arrives early is not lost.
void onSuspendSignal(int) {
  int savedErrno = errno;
  Thread::Control* c = tlsControl;
  if (c) {
    sigset_t waitMask;
    pthread_sigmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, resumeSignal());
    while (c->suspendCount.load(std::memory_order_acquire) > 0) {
      unsigned epoch = c->requestedEpoch.load(std::memory_order_acquire);
      if (epoch != c->acknowledgedEpoch) {
        c->acknowledgedEpoch = epoch;
        sem_post(&c->acknowledged);
      }
      sigsuspend(&waitMask);
    }
  }
  errno = savedErrno;
}

void onResumeSignal(int) {}

void installHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa {};
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, resumeSignal());
    sa.sa_handler = onSuspendSignal;
    sigaction(suspendSignal(), &sa, nullptr);
    struct sigaction ra {};
    ra.sa_flags = SA_RESTART;
    sigemptyset(&ra.sa_mask);
    ra.sa_handler = onResumeSignal;
    sigaction(resumeSignal(), &ra, nullptr);
  });
}

void blockSuspendSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, suspendSignal());
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void waitOn(sem_t* sem) {
  while (sem_wait(sem) != 0 && errno == EINTR) {
  }
}

// Waits for the acknowledgement of a suspend, or for the thread's end.
void awaitStopped(Thread::Control* c) {
  for (;;) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += 10 * 1000 * 1000;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    if (sem_timedwait(&c->acknowledged, &deadline) == 0) return;
    if (c->finished.load(std::memory_order_acquire)) return;
  }
}

}  // namespace

Thread::Thread() : control_(std::make_unique<Control>()) {}

Thread::~Thread() {
  while (control_->started && resume() > 1) {
  }
  join();
}

bool Thread::start(std::function<void()> body) {
  if (control_->started) return false;
  installHandlers();
  Control* c = control_.get();
  c->body = std::move(body);
  try {
    c->thread = std::thread([c] {
      tlsControl = c;
      sem_post(&c->registered);
      c->body();
      blockSuspendSignal();
      c->finished.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    return false;
  }
  c->started = true;
  waitOn(&c->registered);
  return true;
}

void Thread::join() {
  if (control_->thread.joinable()) control_->thread.join();
}

int Thread::suspend() {
  Control* c = control_.get();
  if (!c->started) return -1;
  std::lock_guard<std::mutex> lock(c->controllerMutex);
  int previous = c->suspendCount.fetch_add(1, std::memory_order_acq_rel);
  if (previous == 0 && !c->finished.load(std::memory_order_acquire)) {
    c->requestedEpoch.fetch_add(1, std::memory_order_acq_rel);
    if (pthread_kill(c->thread.native_handle(), suspendSignal()) == 0) awaitStopped(c);
  }
  return previous;
}

int Thread::resume() {
  Control* c = control_.get();
  if (!c->started) return -1;
  std::lock_guard<std::mutex> lock(c->controllerMutex);
  int previous = c->suspendCount.load(std::memory_order_acquire);
  if (previous == 0) return 0;
  c->suspendCount.store(previous - 1, std::memory_order_release);
  if (previous == 1 && !c->finished.load(std::memory_order_acquire)) {
    pthread_kill(c->thread.native_handle(), resumeSignal());
  }
  return previous;
}

bool Thread::finished() const { return control_->finished.load(std::memory_order_acquire); }

unsigned long currentThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

}  // namespace platform
