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

// Local time of a moment as ctime() writes it ("Mon Dec  7 12:00:00 2026\n").
std::string localTimeText(int64_t unixSeconds);

// Blocks the calling thread for at least `ms` milliseconds.
void sleepMs(uint32_t ms);

}  // namespace platform
