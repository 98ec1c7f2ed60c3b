#include "client/throttle.h"

#include <algorithm>

namespace velkan {
namespace {

std::mutex groupMutex;
std::vector<platform::Thread*>& group() {
  static std::vector<platform::Thread*> threads;
  return threads;
}

}  // namespace

void ThrottleGroup::add(platform::Thread* thread) {
  std::lock_guard<std::mutex> lock(groupMutex);
  group().push_back(thread);
}

void ThrottleGroup::remove(platform::Thread* thread) {
  std::lock_guard<std::mutex> lock(groupMutex);
  auto& threads = group();
  threads.erase(std::remove(threads.begin(), threads.end(), thread), threads.end());
}

std::unique_lock<std::mutex> ThrottleGroup::lockForCycle() { return std::unique_lock<std::mutex>(groupMutex); }

const std::vector<platform::Thread*>& ThrottleGroup::members() { return group(); }

}  // namespace velkan
