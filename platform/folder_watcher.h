// Changes below folders, as the system tells of them: no polling. A change
// names the file or folder that was created, written, deleted or renamed
// (each end of a rename); when the system lost changes (its queue ran
// over), an overflow names the watched tree to look through again.
//
// Linux: inotify, one watch per folder; a folder that appears is watched
// from then on and reported whole (files made in it before its watch are
// thus not missed). Folders beyond the system's limit of watches are not
// watched and are listed by unwatched(), for the caller to look through
// from time to time. Windows: ReadDirectoryChangesW on each watched tree,
// recursive (no limit of watches); a read the system could not keep whole
// is an overflow.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

struct FolderChange {
  std::string path;       // host path of what changed; for an overflow, the tree's root
  bool overflow = false;  // changes were lost: look through the whole tree
};

class FolderWatcher {
 public:
  virtual ~FolderWatcher() = default;
  // Watches `root` and every folder below it (links are not followed).
  virtual Status watchTree(const std::string& root) = 0;
  // Waits up to `timeoutMs` (< 0: without end) for changes and appends
  // them; returns early, with none, when a signal comes. An error when the
  // system fails.
  virtual Status wait(int timeoutMs, std::vector<FolderChange>* changes) = 0;
  // Folders that could not be watched because the system's limit of
  // watches was reached.
  virtual std::vector<std::string> unwatched() const = 0;
  // How many folders are watched (Windows: how many trees, each whole).
  virtual size_t watchedCount() const = 0;
};

// The system's watcher.
Status createFolderWatcher(std::unique_ptr<FolderWatcher>* watcher);

// A watcher whose queue holds at most `limit` changes a second, as the
// system's would with a tiny queue: beyond them the changes of that second
// are lost and an overflow is said (once) for every watched tree; how tests,
// and a user who sets ZR_WATCH_QUEUE_LIMIT, see that lost changes are caught.
std::unique_ptr<FolderWatcher> withQueueLimit(std::unique_ptr<FolderWatcher> watcher, size_t limit);

// What a user raises when unwatched() is not empty, as a hint to print.
std::string watchLimitHint();

}  // namespace platform
