#include <time.h>

#include "platform/clock.h"
#include "platform/win32.h"

namespace platform {
namespace {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 116444736000000000ull;

}  // namespace

uint64_t tickCountMs() { return GetTickCount64(); }

uint64_t systemTimeAsFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

int64_t unixTimeMs() { return static_cast<int64_t>((systemTimeAsFileTime() - kEpochDifference) / 10000u); }

int64_t unixTimeSeconds() { return static_cast<int64_t>((systemTimeAsFileTime() - kEpochDifference) / 10000000u); }

UtcTime toUtc(int64_t unixSeconds) {
  __time64_t t = unixSeconds;
  struct tm parts {};
  if (_gmtime64_s(&parts, &t) != 0) return UtcTime{};
  return UtcTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

std::string localTimeText(int64_t unixSeconds) {
  __time64_t t = unixSeconds;
  char buf[64];
  if (_ctime64_s(buf, sizeof buf, &t) != 0) return "";
  return buf;
}

void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace platform
