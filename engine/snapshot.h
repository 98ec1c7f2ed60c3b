// dornik's loading of both snapshots into four ordered sets of file
// entries (the format itself is read in snapshot/).
#pragma once

#include <string>
#include <vector>

#include "engine/settings.h"
#include "snapshot/snapshot_reader.h"

namespace ZR {
class CLogger;
}

namespace dornik {

struct SnapshotSets {
  EntrySet currentDirs;
  EntrySet currentFiles;
  EntrySet cacheDirs;
  EntrySet cacheFiles;
  // False when the cache content snapshot was missing, empty or broken and
  // the run goes on as if nothing were cached; `cacheUnusableReason` says why.
  bool cacheUsable = true;
  std::string cacheUnusableReason;
};

// The loading sequence of the action-set mode: both snapshots into `sets`,
// with its messages. Returns 0 or the exit code.
int loadSnapshots(platform::Env& env, const Settings& settings, ZR::CLogger& log, SnapshotSets& sets);

}  // namespace dornik
