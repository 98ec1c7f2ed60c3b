#include "pipeline/prepared_copy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using velkan::MemoryBudget;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Preparation that is ahead of the uploads waits for them to give memory
// back, but never past its wait, never once the uploads ended, and never
// for more than the whole budget.
TEST(MemoryBudget, AWaitingTakeEndsWhenRoomIsMadeTheUploadsEndOrTheWaitIsOver) {
  struct Case {
    const char* what;
    uint64_t want;
    bool uploadsEnded;
    int giveAfterMs;  // -1: nothing is given back
    bool taken;
    double atMostSeconds;
  };
  const Case cases[] = {
      {"room made while waiting", 60, false, 100, true, 5.0},
      {"no room made: the wait ends", 60, false, -1, false, 5.0},
      {"the uploads ended", 60, true, -1, false, 1.0},
      {"more than the whole budget", 101, false, 100, false, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryBudget budget(100);
    ASSERT_TRUE(budget.take(80));
    std::atomic<bool> given{false};
    std::thread uploads([&] {
      if (c.giveAfterMs < 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.giveAfterMs));
      given = true;
      budget.give(50);
    });
    auto start = std::chrono::steady_clock::now();
    uint64_t waitMs = c.giveAfterMs < 0 && !c.uploadsEnded ? 300 : 4000;
    bool taken = budget.take(c.want, waitMs, [&] { return c.uploadsEnded; });
    double waited = secondsSince(start);
    uploads.join();
    EXPECT_EQ(taken, c.taken);
    EXPECT_LT(waited, c.atMostSeconds);
    if (taken) {
      EXPECT_TRUE(given.load()) << "taken before anything was given back";
    }
    if (!c.taken && c.giveAfterMs < 0 && !c.uploadsEnded) {
      EXPECT_GE(waited, 0.25) << "gave up before its wait";
    }
    uint64_t expected = 80 - (c.giveAfterMs >= 0 ? 50 : 0) + (taken ? c.want : 0);
    EXPECT_EQ(budget.used(), expected);
  }
}

}  // namespace
