#include "platform/clock.h"

namespace platform {
namespace {

class SystemClock : public Clock {
 public:
  uint64_t fileTime() override { return systemTimeAsFileTime(); }
  void sleepMs(uint32_t ms) override { platform::sleepMs(ms); }
};

}  // namespace

Clock* Clock::system() {
  static SystemClock* clock = new SystemClock;  // used until exit
  return clock;
}

}  // namespace platform
