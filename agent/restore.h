// Getting files back, seeing what the cache holds, and checking that it
// holds what the folders hold: `restore` fetches the files the service
// lists at or below the paths asked for into a target folder (several at
// once, each whole or not at all, never outside the target), `ls` lists
// them, and `check` compares the watched folders with the listing.
#pragma once

#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "agent/cache_service.h"
#include "agent/run_report.h"

namespace ZR {
class CLogger;
}

namespace agent {

struct RestoreOptions {
  std::vector<std::string> paths;  // files or folders: logical (c:\home\ann) or host paths the platform maps
  std::string targetFolder;        // host path; created when missing
  bool overwrite = false;          // replace files that exist in the target
  bool dryRun = false;             // tell what would be fetched, fetch nothing
  std::vector<std::string> includes;  // globs on the path below the asked path; none: every file
  std::vector<std::string> excludes;
  int connections = 4;             // files fetched at once, each on a session of its own
  std::string at;                  // --at: a time or a version number; empty: now
};

// One file to restore, and where it goes below the target.
struct SelectedFile {
  CachedFile file;
  std::vector<std::string> parts;  // names below the target, the file's last
};

// The names of a remote path below the folder; empty when it would leave
// the target (a "." or ".." part, an empty part) or is not below the
// folder. A ":" inside a name is part of the name: only the folder's own
// first part is a drive.
std::vector<std::string> relativeParts(const std::string& remotePath, const std::string& remoteFolder);

// The folder part of a logical path ("" when it has none).
std::string parentOf(const std::string& logical);

// Makes the service's listings show the folders at options.at (a time, or
// a version number of the first path); nothing when it is empty.
platform::Status viewAsAsked(CacheService& service, const RestoreOptions& options);
// Says why the view failed; the exit code for a wrong --at or for the service.
int seenFailure(const platform::Status& failed);

// The files the cache holds at or below each path (a file asked for by
// its own path is found in its folder's listing), filtered by the globs.
// Paths that hold nothing, and files whose names would leave the target,
// are told in `problems`.
platform::Status selectFiles(CacheService& service, const RestoreOptions& options, std::vector<SelectedFile>& files,
                             std::vector<std::string>& problems);

int runRestore(const AgentConfig& config, const RestoreOptions& options, ZR::CLogger& log, RunReport& report);
// Lists what the cache holds below `path` (every watched folder when it is
// empty); `detailed` adds sizes, times and how each file is stored.
int runList(const AgentConfig& config, const std::string& path, bool detailed, const std::string& at, ZR::CLogger& log,
            RunReport& report);
int runCheck(const AgentConfig& config, ZR::CLogger& log, RunReport& report);

}  // namespace agent
