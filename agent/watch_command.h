// `cacheagent watch`: a full backup, then the watched folders watched; a
// folder where something changed is backed up on its own once it has been
// quiet for the settle time (or has kept changing for the longest delay),
// through the same guards and programs as a backup. A full backup runs
// again every so many hours, and whenever the system says it lost changes.
// The folders waiting are kept in the work folder ("pending-changes.txt",
// written whole), so a restart, a crash or a reboot resumes with them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "agent/backup.h"

namespace ZR {
class CLogger;
}

namespace agent {

struct WatchOptions {
  BackupOptions backup;                      // the guards' permissions, velkan's limits
  int settleMs = 2000;                       // a folder is taken once quiet this long
  int maxDelayMs = 60000;                    // or once it has waited this long, quiet or not
  int64_t fullEveryMs = 24LL * 3600 * 1000;  // a full, reconciling backup this often
  int64_t rescanEveryMs = 10LL * 60 * 1000;  // folders the system cannot watch are looked through this often
};

// The host folder to look through for a change at `hostPath`: the nearest
// existing folder that holds it, within the watched folder it lies in;
// empty when it lies in none, or in the work folder.
std::string folderToLookThrough(platform::Env& env, const AgentConfig& config, const std::string& hostPath);

// The parts of the watched folders to back up for these host folders:
// those inside another are dropped, each keeps its watched folder's
// exclude patterns (and its place below it); excluded ones are left out.
std::vector<WatchedFolder> partsToLookThrough(const AgentConfig& config, const std::vector<std::string>& folders);

// Folders that changed and wait for their backup, with when they first and
// last changed (monotonic milliseconds).
class PendingChanges {
 public:
  void add(const std::string& folder, uint64_t nowMs);
  // Those quiet for `settleMs`, or waiting for `maxDelayMs`, at `nowMs`.
  std::vector<std::string> due(uint64_t nowMs, int settleMs, int maxDelayMs) const;
  // Milliseconds until the next one is due; -1 when none waits.
  int64_t msUntilDue(uint64_t nowMs, int settleMs, int maxDelayMs) const;
  void remove(const std::vector<std::string>& folders);
  size_t size() const { return folders_.size(); }
  std::vector<std::string> folders() const;
  // One folder per line. Loading takes each as changed at `nowMs`.
  platform::Status save(platform::Env& env, const std::string& file) const;
  platform::Status load(platform::Env& env, const std::string& file, uint64_t nowMs);

 private:
  struct Times {
    uint64_t first = 0;
    uint64_t last = 0;
  };
  std::map<std::string, Times> folders_;
};

int runWatch(const AgentConfig& config, const WatchOptions& options, ZR::CLogger& log);

}  // namespace agent
