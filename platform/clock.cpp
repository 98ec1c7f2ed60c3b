#include "platform/clock.h"

#include <ctime>

namespace platform {
namespace {

class SystemClock : public Clock {
 public:
  uint64_t fileTime() override { return systemTimeAsFileTime(); }
  void sleepMs(uint32_t ms) override { platform::sleepMs(ms); }
};

}  // namespace

bool fromLocalTime(const UtcTime& local, int64_t& unixSeconds) {
  if (local.month < 1 || local.month > 12 || local.day < 1 || local.day > 31 || local.hour < 0 || local.hour > 23 ||
      local.minute < 0 || local.minute > 59 || local.second < 0 || local.second > 60 || local.year < 1970 ||
      local.year > 9999) {
    return false;
  }
  std::tm broken{};
  broken.tm_year = local.year - 1900;
  broken.tm_mon = local.month - 1;
  broken.tm_mday = local.day;
  broken.tm_hour = local.hour;
  broken.tm_min = local.minute;
  broken.tm_sec = local.second;
  broken.tm_isdst = -1;  // the zone's rule for that day
  std::time_t made = std::mktime(&broken);
  if (made == static_cast<std::time_t>(-1) || broken.tm_mday != local.day) return false;  // 31 February
  unixSeconds = static_cast<int64_t>(made);
  return true;
}

Clock* Clock::system() {
  static SystemClock* clock = new SystemClock;  // used until exit
  return clock;
}

}  // namespace platform
