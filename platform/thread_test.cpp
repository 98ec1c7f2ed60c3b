#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "tests/test_support.h"

namespace {

using namespace std::chrono_literals;

// A thread that counts as fast as it can until told to stop.
struct Counter {
  std::atomic<uint64_t> count{0};
  std::atomic<bool> stop{false};
  platform::Thread thread;
  Counter() {
    thread.start([this] {
      while (!stop.load(std::memory_order_relaxed)) count.fetch_add(1, std::memory_order_relaxed);
    });
  }
  ~Counter() {
    stop = true;
    thread.join();
  }
};

TEST(ThreadSuspend, SuspendedThreadMakesNoProgressAndResumedOneDoes) {
  Counter counter;
  ASSERT_TRUE(testsupport::waitUntil([&] { return counter.count.load() > 0; }));
  EXPECT_EQ(counter.thread.suspend(), 0);
  uint64_t atSuspend = counter.count.load();
  std::this_thread::sleep_for(100ms);  // time it would have counted in
  EXPECT_EQ(counter.count.load(), atSuspend) << "the thread ran while suspended";
  EXPECT_EQ(counter.thread.resume(), 1);
  EXPECT_TRUE(testsupport::waitUntil([&] { return counter.count.load() > atSuspend; })) << "never ran again";
}

// The throttle's shape: the controller holds a lock while it stops a
// thread that is waiting for that lock. Stopping must still return (a
// sanitizer that holds the signal back must not make it hang), and the
// thread must go on once both are let go.
TEST(ThreadSuspend, AThreadWaitingForTheCallersLockIsStoppedWithoutAHang) {
  std::mutex lock;
  std::atomic<bool> through{false};
  std::unique_lock<std::mutex> held(lock);
  platform::Thread waiter;
  ASSERT_TRUE(waiter.start([&] {
    std::lock_guard<std::mutex> taken(lock);
    through = true;
  }));
  std::this_thread::sleep_for(20ms);
  uint64_t started = platform::tickCountMs();
  EXPECT_EQ(waiter.suspend(), 0);
  EXPECT_LT(platform::tickCountMs() - started, 2000u);
  EXPECT_EQ(waiter.resume(), 1);
  held.unlock();
  waiter.join();
  EXPECT_TRUE(through.load());
}

TEST(ThreadSuspend, CallsNestLikeACount) {
  Counter counter;
  EXPECT_EQ(counter.thread.suspend(), 0);
  EXPECT_EQ(counter.thread.suspend(), 1);
  EXPECT_EQ(counter.thread.resume(), 2);
  uint64_t still = counter.count.load();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(counter.count.load(), still) << "one resume of two suspends let it run";
  EXPECT_EQ(counter.thread.resume(), 1);
  EXPECT_EQ(counter.thread.resume(), 0);
  EXPECT_TRUE(testsupport::waitUntil([&] { return counter.count.load() > still; })) << "never ran again";
}

TEST(ThreadSuspend, TightLoopForSecondsNeitherDeadlocksNorLosesAResume) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer defers signals that arrive inside its runtime until the
  // thread next enters an intercepted call; this counting loop makes none.
  GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
  Counter counter;
  uint64_t end = platform::tickCountMs() + 3000;
  int cycles = 0;
  while (platform::tickCountMs() < end) {
    counter.thread.suspend();
    uint64_t frozen = counter.count.load();
    if (cycles % 64 == 0) {
      std::this_thread::sleep_for(1ms);
      ASSERT_EQ(counter.count.load(), frozen) << "ran while suspended in cycle " << cycles;
    }
    counter.thread.resume();
    ++cycles;
  }
  EXPECT_GT(cycles, 100);
  uint64_t before = counter.count.load();
  EXPECT_TRUE(testsupport::waitUntil([&] { return counter.count.load() > before; })) << "a resume was lost";
}

TEST(ThreadSuspend, FinishedThreadCountsAsStoppedAndBlockingCallsSurvive) {
  platform::Thread quick;
  quick.start([] {});
  quick.join();
  EXPECT_TRUE(quick.finished());
  EXPECT_EQ(quick.suspend(), 0);  // returns at once
  EXPECT_EQ(quick.resume(), 1);

  std::atomic<bool> slept{false};
  platform::Thread sleeper;
  sleeper.start([&] {
    platform::sleepMs(200);
    slept = true;
  });
  for (int i = 0; i < 20; ++i) {
    sleeper.suspend();
    sleeper.resume();
  }
  sleeper.join();
  EXPECT_TRUE(slept.load());

  platform::Thread never;
  EXPECT_EQ(never.suspend(), -1);
}

TEST(ThreadSuspend, DestroyingASuspendedThreadLetsItFinish) {
  std::atomic<bool> done{false};
  {
    platform::Thread t;
    t.start([&] {
      platform::sleepMs(30);
      done = true;
    });
    t.suspend();
  }
  EXPECT_TRUE(done.load());
}

}  // namespace
