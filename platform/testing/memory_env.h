// A file system held in memory, for unit tests where real folders are not
// the point: files and folders under "/"-separated paths ("\\" separates
// parts as "/" does), a clock of its own for their times, and no links.
// Thread-safe. Files opened for writing show their content when closed (a
// whole-file write is seen whole).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"

namespace platform {

class MemoryEnv : public Env {
 public:
  MemoryEnv();

  // Test helpers: a file with its content and time (folders made on the
  // way), and what a file holds ("" when none).
  void addFile(const std::string& path, const std::string& content, int64_t modifiedUnixSeconds = 1700000000);
  std::string contentOf(const std::string& path);

  bool fileExists(const std::string& path) override;
  bool getFileInfo(const std::string& path, FileInfo* info) override;
  Status openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) override;
  Status openWritable(const std::string& path, std::unique_ptr<WritableFile>* file) override;
  Status openAppendable(const std::string& path, std::unique_ptr<WritableFile>* file) override;
  Status createExclusive(const std::string& path, std::unique_ptr<WritableFile>* file) override;
  Status openWritableNoLink(const std::string& path, std::unique_ptr<WritableFile>* file) override;
  Status renameFile(const std::string& from, const std::string& to) override;
  bool removeFile(const std::string& path) override;
  bool removeTree(const std::string& path) override;
  bool createDirectories(const std::string& path) override;
  bool listDirectory(const std::string& path, std::vector<std::string>* names) override;
  Status scanDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) override;
  int64_t freeBytes(const std::string& path) override;
  // No links in memory: a path resolves to itself when it is there, and
  // every file may be read by anyone.
  std::string resolvedPath(const std::string& path) override;
  std::string finalLinkTarget(const std::string& path) override { return path; }
  bool copyFileAccess(const std::string& from, const std::string& to) override;
  bool canRead(const std::string& path) override { return fileExists(path); }
  bool setModifiedTime(const std::string& path, int64_t unixSeconds) override;

 private:
  struct Node {
    bool folder = false;
    std::string content;
    int64_t modified = 0;
    uint64_t id = 0;
  };
  class Writer;

  // REQUIRES: mutex_ held.
  FileInfo infoOf(const Node& node) const;
  bool parentIsFolder(const std::string& path) const;
  Status openForWriting(const std::string& path, bool keep, bool exclusive, std::unique_ptr<WritableFile>* file);
  void store(const std::string& path, const std::string& content);

  std::mutex mutex_;
  std::map<std::string, Node> nodes_;  // by normalised path; "/" is the root
  uint64_t nextId_ = 1;
};

}  // namespace platform
