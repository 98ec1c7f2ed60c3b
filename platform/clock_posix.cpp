#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {

uint64_t tickCountMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int64_t unixTimeSeconds() { return static_cast<int64_t>(::time(nullptr)); }

int64_t unixTimeMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint64_t systemTimeAsFileTime() {
  // Seconds between 1601-01-01 and 1970-01-01.
  constexpr uint64_t kEpochDifference = 11644473600ull;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<uint64_t>(ts.tv_sec) + kEpochDifference) * 10000000ull +
         static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

UtcTime toUtc(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm parts {};
  gmtime_r(&t, &parts);
  return UtcTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

std::string localTimeText(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  char buf[64];
  if (!ctime_r(&t, buf)) return "";
  return buf;
}

void sleepMs(uint32_t ms) {
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec remaining;
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace platform
