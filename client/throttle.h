// Threads that share the CPU throttling of a velkan run: besides the run
// thread, the workers register here so that the throttling cycle stops
// them too, and the process as a whole stays near the given share.
#pragma once

#include <mutex>
#include <vector>

#include "platform/thread.h"

namespace velkan {

class ThrottleGroup {
 public:
  // A thread joins or leaves the group; leaving waits until no cycle is
  // using it, so a thread is never resumed after it is gone.
  static void add(platform::Thread* thread);
  static void remove(platform::Thread* thread);

  // Held by the throttling loop from before it suspends the members until
  // after it has resumed them; members() is valid while it is held.
  static std::unique_lock<std::mutex> lockForCycle();
  static const std::vector<platform::Thread*>& members();
};

}  // namespace velkan
