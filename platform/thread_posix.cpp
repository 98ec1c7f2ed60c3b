#include "platform/thread.h"

#include "platform/clock.h"

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
  std::atomic<unsigned> acknowledgedEpoch{0};  // written only by the controlled thread
  std::atomic<bool> inHandler{false};          // the thread is inside the suspend handler
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
//
// `inHandler` tells the controller that a new request will be seen without
// another signal; without it a controller cycling fast would queue one
// signal per cycle while the thread is still here, and the thread would
// then spend its time taking that backlog. Leaving re-checks the count, so
// a request that raced with the leaving is not missed either.
void onSuspendSignal(int) {
  int savedErrno = errno;
  Thread::Control* c = tlsControl;
  if (c) {
    sigset_t waitMask;
    pthread_sigmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, resumeSignal());
    do {
      c->inHandler.store(true);
      while (c->suspendCount.load() > 0) {
        unsigned epoch = c->requestedEpoch.load();
        if (epoch != c->acknowledgedEpoch.load(std::memory_order_relaxed)) {
          c->acknowledgedEpoch.store(epoch);
          sem_post(&c->acknowledged);
        }
        sigsuspend(&waitMask);
      }
      c->inHandler.store(false);
    } while (c->suspendCount.load() > 0);
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

// Waits until the thread acknowledged the request `epoch` (or a later one),
// or has ended. The semaphore only wakes us; the epoch decides. The wait is
// bounded: a thread that cannot take the signal yet (ThreadSanitizer holds
// signals back while a thread waits for a lock, perhaps one the caller or a
// thread it stopped holds) would otherwise stop the caller for good. Such a
// thread stops at its next chance, since the count stays raised.
constexpr uint64_t kLongestStopWaitMs = 500;

void awaitStopped(Thread::Control* c, unsigned epoch) {
  const uint64_t givenUp = tickCountMs() + kLongestStopWaitMs;
  while (c->acknowledgedEpoch.load(std::memory_order_acquire) != epoch) {
    if (tickCountMs() >= givenUp) return;
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += 10 * 1000 * 1000;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    sem_timedwait(&c->acknowledged, &deadline);
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
      c->finished.store(true);
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
  int previous = c->suspendCount.load();
  if (previous > 0 || c->finished.load()) {
    c->suspendCount.store(previous + 1);
    return previous;
  }
  // The epoch first: a handler that sees the count raised must see the
  // request it is to acknowledge.
  unsigned epoch = c->requestedEpoch.fetch_add(1) + 1;
  c->suspendCount.store(1);
  bool signalled = c->inHandler.load() || pthread_kill(c->thread.native_handle(), suspendSignal()) == 0;
  if (signalled) awaitStopped(c, epoch);
  return previous;
}

int Thread::resume() {
  Control* c = control_.get();
  if (!c->started) return -1;
  std::lock_guard<std::mutex> lock(c->controllerMutex);
  int previous = c->suspendCount.load();
  if (previous == 0) return 0;
  c->suspendCount.store(previous - 1);
  if (previous == 1 && !c->finished.load()) pthread_kill(c->thread.native_handle(), resumeSignal());
  return previous;
}

bool Thread::finished() const { return control_->finished.load(); }

unsigned long currentThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

}  // namespace platform
