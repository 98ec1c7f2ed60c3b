// The folder a restore writes into, and nothing outside it. Every folder
// and file below it is reached one name at a time without following a
// link (platform/folder_handle.h): a link planted where a restored file or
// folder goes is refused and named, never written through. A file is
// written to a temporary of its own first, created exclusively under a
// short name that fits beside any name (".cacheagent-<pid>-<n>.part"), and
// is published under its name only once its bytes are durable: files are
// gathered in batches, the file system is synced once per batch, then the
// batch's files are renamed and their folders synced. A temporary left by
// a restore that was killed is removed when a later restore reaches its
// folder.
//
// Restored files and folders get the user's usual permissions (those the
// process was started with), not the program's private ones.
//
// Safe from several threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/folder_handle.h"

namespace agent {

class RestoreTarget;

// One file on its way into the target.
class PendingFile {
 public:
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool write(const char* data, size_t size);
  // Hands the written file to its batch, with its last write time (when
  // `timeKnown`). Returns why not, empty on success.
  std::string finish(bool timeKnown, int64_t modifiedSeconds);
  // Gives the file up: its temporary goes.
  void abandon();

 private:
  friend class RestoreTarget;
  PendingFile(RestoreTarget& target, std::shared_ptr<platform::FolderHandle> folder, std::string temporary,
              std::string name, std::unique_ptr<platform::WritableFile> out);

  RestoreTarget& target_;
  std::shared_ptr<platform::FolderHandle> folder_;
  std::string temporary_;
  std::string name_;
  std::unique_ptr<platform::WritableFile> out_;
  bool setModeAndTime(bool timeKnown, int64_t modifiedSeconds, std::string& problem);

  uint64_t bytes_ = 0;
  bool modeSet_ = false;
  bool writeFailed_ = false;
  bool done_ = false;
};

class RestoreTarget {
 public:
  enum class Begun { Ok, Kept, Failed };

  // Opens (creating) the target folder. `overwrite`: a file that is there
  // is replaced (the name itself, never a link's target).
  static platform::Status open(platform::Env& env, const std::string& folder, bool overwrite,
                               std::unique_ptr<RestoreTarget>* target);
  ~RestoreTarget();
  RestoreTarget(const RestoreTarget&) = delete;
  RestoreTarget& operator=(const RestoreTarget&) = delete;

  // Begins the file at `parts` below the target (each a name; a name this
  // system cannot hold is replaced by a plainly marked substitute, told in
  // `substitute`). Kept: a file is there and may not be replaced.
  Begun begin(const std::vector<std::string>& parts, std::unique_ptr<PendingFile>* file, std::string& why,
              std::string& substitute);
  // Publishes every finished file; returns the problems (one per file).
  std::vector<std::string> commit();
  // Files published under their names so far.
  uint64_t published() const { return published_.load(); }
  const std::string& folder() const { return root_->path(); }
  // Free bytes on the target's disk, -1 when unknown.
  int64_t freeBytes() const;

 private:
  struct Finished {
    std::shared_ptr<platform::FolderHandle> folder;
    std::string temporary, name;
  };
  friend class PendingFile;
  RestoreTarget(platform::Env& env, std::unique_ptr<platform::FolderHandle> root, bool overwrite);
  std::shared_ptr<platform::FolderHandle> folderAt(const std::vector<std::string>& parts, size_t count,
                                                   std::string& why);
  void removeLeftovers(platform::FolderHandle& folder);
  std::string temporaryName();
  void finished(Finished file, uint64_t bytes);
  std::vector<std::string> commitLocked();

  platform::Env& env_;
  std::shared_ptr<platform::FolderHandle> root_;
  bool overwrite_;
  uint32_t fileMode_, folderMode_;
  bool syncEachFile_ = false;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<platform::FolderHandle>> folders_;  // by relative path
  std::set<const platform::FolderHandle*> madeHere_;  // folders this restore created
  uint64_t counter_ = 0;
  std::vector<Finished> batch_;
  uint64_t batchBytes_ = 0;
  std::vector<std::string> problems_;  // of batches committed on their own
  std::atomic<uint64_t> published_{0};
};

// A name this system can hold in place of `name`: the characters it cannot
// hold written as %XX, a name too long cut with a hash of the whole.
std::string substituteName(const std::string& name);

}  // namespace agent
