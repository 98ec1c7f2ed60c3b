// The walk over the watched folders that the directory content snapshot is
// made from. It never follows a link (so it can neither leave the tree nor
// loop, and velkan, which opens no link either, reads what the walk saw);
// what the cache holds at a link's place is kept, so that a folder moved
// elsewhere and replaced by a link is no deletion. It reports what it
// skips (path and reason) without stopping: skips by rule (links, pipes and
// devices) apart from problems (unreadable folders and files, names a
// snapshot cannot carry).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agent/agent_config.h"
#include "snapshot/snapshot_writer.h"
#include "platform/status.h"

namespace agent {

// Receives the walk's entries, each once, folders before what they hold.
class ScanSink {
 public:
  virtual ~ScanSink() = default;
  virtual void folder(std::string_view logicalPath) = 0;
  virtual void file(std::string_view logicalPath, uint64_t size, int64_t modifiedSeconds) = 0;
};

struct ScanProblem {
  std::string path;  // host path
  std::string reason;
  // A file or folder that belongs in the backup but could not be taken
  // (not a pipe, a device or a link that is not followed).
  bool leftOut = false;
  // For a skip by rule, what was skipped ("a link to a folder", ...).
  std::string rule;
  // A name that is not UTF-8 text (or holds a backslash): the file may be
  // fine, its name cannot be carried.
  bool badName = false;
};

struct ScanResult {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;
  uint64_t excluded = 0;
  std::vector<ScanProblem> problems;
  // Logical paths of folders and files that exist but could not be read,
  // and of links: what the cache holds of them is to be kept as it is,
  // neither sent again nor deleted.
  std::vector<std::string> unreadable;
  // Files found in each watched folder (logical path, count).
  std::vector<std::pair<std::string, uint64_t>> filesPerWatch;

  // How many entries each rule skipped, in the order the rules were met.
  std::vector<std::pair<std::string, uint64_t>> skipsByRule() const;

  bool incomplete() const {
    for (const ScanProblem& problem : problems) {
      if (problem.leftOut) return true;
    }
    return false;
  }
  // The same, names that cannot be carried apart.
  bool incompleteButForNames() const {
    for (const ScanProblem& problem : problems) {
      if (problem.leftOut && !problem.badName) return true;
    }
    return false;
  }
};

// Walks every watched folder into `sink`. Fails only when a watched folder
// itself is missing or no folder (the message names it); everything below
// is reported in `result` instead.
platform::Status scanFolders(platform::Env& env, const std::vector<WatchedFolder>& watches, ScanSink& sink,
                             ScanResult& result);

// Writes the directory content snapshot as the walk goes, whole or not at
// all: nothing is in place before commit().
class DirContentWriter : public ScanSink {
 public:
  DirContentWriter(platform::Env& env, const std::string& path);
  void folder(std::string_view logicalPath) override;
  void file(std::string_view logicalPath, uint64_t size, int64_t modifiedSeconds) override;
  // False, with the reason, when any of it could not be written.
  platform::Status commit() { return out_.commit(); }

 private:
  dornik::SnapshotWriter out_;
};

}  // namespace agent
