// The commands that make the two programs' inputs and run them: `scan`
// (the directory content snapshot), `cache-snapshot` (the cache content
// snapshot from the service's listing) and `backup`, the whole cycle:
// listing, scan, both snapshots, dornik, a look at what it decided (and a
// stop when it would delete too much), velkan with a progress line, and a
// summary. Each returns an exit code of exit_codes.h and says on standard
// error what went wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "agent/cache_service.h"
#include "agent/folder_scan.h"
#include "platform/file_lock.h"

namespace ZR {
class CLogger;
}

namespace agent {

struct BackupOptions {
  bool dryRun = false;          // stop after dornik and tell what would be done
  bool allowDeletions = false;  // carry out deletions beyond the configured share
  bool allowChanges = false;    // replace cached files beyond the configured share
  int cpuPercent = -1;          // velkan's CPU share; -1: the configuration's
  uint64_t bytesPerSecond = 0;  // velkan's bandwidth; 0: the configuration's
  bool verbose = false;         // each file on the terminal as it goes
  bool lockHeld = false;        // the caller holds the backup lock (cacheagent watch)
  // The cache's file count the guards' shares are of, for a backup of a
  // part of the watched folders; 0: what the listing holds.
  uint64_t guardBase = 0;
  // The watched folders are parts of the configured ones (cacheagent watch):
  // the file index is brought up to date below them only.
  bool partsOnly = false;
  uint64_t* listedFiles = nullptr;  // when set, receives how many files the listing held
};

// One backup at a time per work folder: a lock on cacheagent.lock there,
// which the system lets go of when the process ends however it ends.
class BackupLock {
 public:
  explicit BackupLock(const AgentConfig& config);
  // Ok, or why not: another backup holds it (refused), or the lock cannot
  // be had at all (a planted link, a folder that cannot be written).
  platform::Status take();

 private:
  std::string lockFile_;
  platform::FileLock lock_;
};

// What an action set asks for, sorted out for a person.
struct BackupPlan {
  std::vector<std::string> newFiles;      // not in the cache
  std::vector<std::string> changedFiles;  // in the cache in an older version
  std::vector<std::string> deletedFiles;  // in the cache, gone from the folders
  uint64_t deletedFolders = 0;
  uint64_t unchangedFiles = 0;
};

// Reads an action set that dornik wrote: a file both deleted and created
// is a changed one; created with offset 0 a new one, unless `listed` (the
// cache's files, sorted by path; may be null) holds it; with an offset and
// not deleted, an unchanged one.
platform::Status readPlan(platform::Env& env, const std::string& actionSetPath, BackupPlan& plan,
                          const std::vector<CachedFile>* listed = nullptr);

// Every file the service holds below the watched folders, sorted by path.
platform::Status listCache(CacheService& service, const std::vector<WatchedFolder>& watches,
                           std::vector<CachedFile>& files);

// Scans the watched folders into the directory content snapshot. With
// `cached`, a file or folder that cannot be read is listed as the cache
// holds it, so the cycle neither sends it again nor deletes it.
platform::Status writeDirContent(const AgentConfig& config, const std::vector<CachedFile>* cached,
                                 ScanResult& result);

// Why the backup must not replace so many cached files (more than
// maxChangePercent of them, or more than a handful of `garbled` ones: see
// newlyRandomFiles), naming the folders concerned and whether the cache
// manager keeps the replaced versions; empty when it may. A handful of
// changes never stops it.
std::string changeGuard(const AgentConfig& config, const BackupPlan& plan, const std::vector<CachedFile>& cached,
                        const std::vector<std::string>& garbled, bool historyKept, uint64_t guardBase = 0);
// Why the backup must not go on with these deletions; empty when it may.
std::string deletionGuard(const AgentConfig& config, const BackupPlan& plan, const std::vector<CachedFile>& cached,
                          const ScanResult& scan, uint64_t guardBase = 0);

int runScan(const AgentConfig& config);
int runCacheSnapshot(const AgentConfig& config, ZR::CLogger& log);
// `report` receives the run's figures, problems, skips and failures.
int runBackup(const AgentConfig& config, const BackupOptions& options, ZR::CLogger& log, class RunReport& report);

}  // namespace agent
