// What `cacheagent watch` is doing, for the status page: the file
// "cs_watch.xml" beside velkan's status files, rewritten whole whenever it
// changes. Times are seconds since 1970 (UTC); 0 when there is none.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"
#include "platform/status.h"

namespace agent {

constexpr const char* kWatchStatusFile = "cs_watch.xml";

struct WatchState {
  // "watching", "backing up", "waiting for the service" or "stopped".
  std::string state = "watching";
  uint64_t watchedFolders = 0;
  uint64_t unwatchedFolders = 0;  // beyond the system's limit: looked through from time to time
  uint64_t pendingFolders = 0;    // changed folders waiting for their backup
  int64_t lastCycleAt = 0;        // when the last cycle ended
  std::string lastCycleKind;      // "full" or "changes"
  int lastCycleExitCode = 0;
  uint64_t lastCycleMs = 0;  // how long it took
  int64_t nextCycleAt = 0;  // when the next cycle is due, as things stand
  int64_t nextFullAt = 0;   // when the next full backup is due
};

std::string watchStatusXml(const WatchState& state, int64_t nowSeconds);

// Writes the file into `statusFolder` (made when missing) unless it would
// say what it says already.
class WatchStatusFile {
 public:
  WatchStatusFile(platform::Env& env, std::string statusFolder) : env_(env), folder_(std::move(statusFolder)) {}
  platform::Status write(const WatchState& state);

 private:
  platform::Env& env_;
  std::string folder_;
  std::string written_;
};

}  // namespace agent
