// A folder opened as itself, and what lies below it reached one name at a
// time without ever following a symbolic link (or, on Windows, a reparse
// point): whoever replaces a folder or a file by a link after we looked at
// it cannot make us read or write through that link. This is how velkan
// reads the watched folders and how restore writes into its target.
//
// Names are single path components ("a.txt"), never paths; "." and ".."
// and names with a separator are refused. Safe to use from one thread at a
// time (REQUIRES: external synchronization); distinct handles are
// independent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace platform {

class FolderHandle {
 public:
  virtual ~FolderHandle() = default;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  // Opens the folder at `path`. The path itself is trusted: links in it
  // are followed. Fails when it is no folder.
  static Status open(const std::string& path, std::unique_ptr<FolderHandle>* folder);

  // The folder as it was opened (for messages).
  const std::string& path() const { return path_; }

  // The child folder `name`; with `create`, made when missing (mode 0777
  // less the process's mask). A link at `name` is refused with a message
  // that says so.
  virtual Status child(const std::string& name, bool create, std::unique_ptr<FolderHandle>* folder) = 0;
  // What is at `name`, the link itself for a link (`isLink` then true).
  virtual Status info(const std::string& name, FileInfo* info, bool* isLink) = 0;
  // Opens the plain file `name` for reading; a link is refused.
  virtual Status openReadable(const std::string& name, std::unique_ptr<ReadableFile>* file) = 0;
  // Creates the file `name`, which must not exist in any form (a link
  // there fails too), with the permission bits `mode` less the process's
  // mask.
  virtual Status createExclusive(const std::string& name, uint32_t mode, std::unique_ptr<WritableFile>* file) = 0;
  // Renames `from` to `to` in this folder. With `replace`, what is at `to`
  // is replaced (a link there itself, never what it leads to); without,
  // the rename fails when anything is there.
  virtual Status rename(const std::string& from, const std::string& to, bool replace) = 0;
  // Removes the file or link `name` (not what a link leads to).
  virtual Status remove(const std::string& name) = 0;
  // The entries, links reported as links.
  virtual Status list(std::vector<DirectoryEntry>* entries) = 0;
  // Sets the last write time and the permission bits of the file `name`
  // (a link is refused).
  virtual Status setModifiedTime(const std::string& name, int64_t unixSeconds, int32_t nanoseconds) = 0;
  virtual Status setMode(const std::string& name, uint32_t mode) = 0;
  // Makes the folder's entries (creations, renames) durable.
  virtual Status sync() = 0;
  // Makes every file written on this folder's file system durable at once
  // (cheaper than a sync of each); refused where the system cannot, and
  // each file is then to be synced itself.
  virtual Status syncFileSystem() = 0;

  // The folder at `relative` below this one ("/" or "\\" between its
  // parts), each part reached as `child` does.
  Status descend(const std::string& relative, bool create, std::unique_ptr<FolderHandle>* folder);

  // True for a name a folder can hold: not empty, not "." or "..", no
  // separator, no NUL.
  static bool plainName(const std::string& name);

 protected:
  explicit FolderHandle(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

// True when a file of this system can be named so (POSIX: no "/" or NUL,
// at most 255 bytes; Windows: none of <>:"/\|?* or control characters,
// no trailing dot or blank, no device name such as CON, at most 255
// UTF-16 units).
bool legalFileName(const std::string& name);

// The parts of a relative path ("/" or "\\" between them); empty parts
// are dropped.
std::vector<std::string> pathParts(const std::string& relative);

}  // namespace platform
