#include "platform/interrupt.h"

#include <atomic>

namespace platform {

std::atomic<bool>& interruptionFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

bool interruptionRequested() { return interruptionFlag().load(std::memory_order_acquire); }

void requestInterruption() { interruptionFlag().store(true, std::memory_order_release); }

void clearInterruption() { interruptionFlag().store(false, std::memory_order_release); }

}  // namespace platform
