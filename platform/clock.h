// Time as the product reads it: wall clock, a monotonic tick count, sleeping.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Milliseconds from an arbitrary fixed point; never goes backwards.
uint64_t tickCountMs();

// Wall-clock time in seconds since 1970-01-01 UTC.
int64_t unixTimeSeconds();

// Wall-clock time in milliseconds since 1970-01-01 UTC.
int64_t unixTimeMs();

// Wall-clock time as a Windows file time: 100 ns units since 1601-01-01 UTC.
uint64_t systemTimeAsFileTime();

// Broken-down UTC time of a moment in seconds since 1970.
struct UtcTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
UtcTime toUtc(int64_t unixSeconds);

// The moment a local (wall-clock, this machine's zone) time names, in
// seconds since 1970; false when it names none (month 13, say).
bool fromLocalTime(const UtcTime& local, int64_t& unixSeconds);

// Local time of a moment as ctime() writes it ("Mon Dec  7 12:00:00 2026\n").
std::string localTimeText(int64_t unixSeconds);

// Blocks the calling thread for at least `ms` milliseconds.
void sleepMs(uint32_t ms);

// The clock that time limits and pacing read, so that a test can move time
// on without waiting. Safe from several threads.
class Clock {
 public:
  virtual ~Clock() = default;
  // 100 ns units since 1601-01-01 UTC.
  virtual uint64_t fileTime() = 0;
  virtual void sleepMs(uint32_t ms) = 0;
  // The system's clock. Never deleted.
  static Clock* system();
};

// A clock that stands still until a test moves it; sleeping moves it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint64_t startFileTime = 133000000000000000ull) : now_(startFileTime) {}
  uint64_t fileTime() override { return now_; }
  void sleepMs(uint32_t ms) override {
    slept_ += ms;
    advanceMs(ms);
  }
  void advanceMs(uint64_t ms) { now_ += ms * 10000; }
  // Total of all sleeps so far, in milliseconds.
  uint64_t sleptMs() const { return slept_; }

 private:
  uint64_t now_;
  uint64_t slept_ = 0;
};

}  // namespace platform
