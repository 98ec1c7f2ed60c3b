// Reading a file that may be written while it is read. A copy is sent only
// when it is one version of the file: its size, last write time and
// identity the same before and after it was read. A file that changes
// while it is read is read again, a few times with a pause between; one
// that never holds still is copied into a private file, again and again
// until a copy is made during which it held still, and that copy is sent.
//
// The version of a file is compared to the second by the next backup (the
// snapshots carry whole seconds): a copy taken in the same second as the
// file's last write could be followed by another write in that second that
// leaves the size and the second as they were. So a file is never read
// before the second of its last write is over.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/env.h"

namespace velkan {

// How many times a file is read before a private copy is taken, and how
// many copies are tried.
constexpr int kReadAttempts = 3;
constexpr int kCopyAttempts = 12;

// The pause before read `attempt` (2, 3, ...): 200 ms, 600 ms, 1.8 s, at most 2 s.
uint32_t backOffMs(int attempt);
// The pause before private copy `attempt` (2, 3, ...): short, and each a
// little different from the last, so that copies do not keep falling on
// the beats of a writer that writes at a steady pace (50 to 250 ms).
uint32_t copyPauseMs(int attempt);

// Waits until the second of `version`'s last write has passed (at most a
// little over a second; a time further in the future is not waited for).
// Cut short when `stopped` (may be empty) says so; false then.
bool waitPastWriteSecond(const platform::FileInfo& version, const std::function<bool()>& stopped);

// Copies `source` to `target` (host paths; `target` is created) so that
// the copy holds one version of the source, tried up to `attempts` times
// with pauses between. On success `version` is that version. On failure
// nothing is left at `target` and the status says why.
platform::Status copyWhileStill(platform::Env& env, const std::string& source, const std::string& target,
                                platform::FileInfo& version, int attempts, const std::function<bool()>& stopped);

}  // namespace velkan
