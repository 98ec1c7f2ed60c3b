// Files and folders. Every path may be a logical (Windows) path or a host
// path; it is mapped with platform::hostPath() before use. Each class works
// through the Env it is given, so that tests can put faults under it. The
// few forms without an Env are the library's published calls, kept for
// callers outside the programs; they use the process's Env. The programs
// themselves always pass theirs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"

namespace ZR {

// A file opened for reading ("r") or writing from its start ("w").
// REQUIRES: external synchronization.
class CFile {
 public:
  CFile(platform::Env& env, const std::string& path, const char* mode);
  CFile(const std::string& path, const char* mode);
  ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  bool isValid() const { return reader_ || writer_; }
  // Why the file could not be opened or written; empty when all went well.
  const std::string& lastError() const { return error_; }
  // Size in bytes; -1 when unknown.
  int64_t size() const;
  // Bytes read (0 at the end), -1 on failure.
  int64_t read(void* buffer, size_t count);
  // Moves the reading position to `offset` bytes from the start; false when
  // the file is not open for reading or cannot seek there.
  bool seek(uint64_t offset);
  // Bytes written (all of them), -1 on failure.
  int64_t write(const void* data, size_t count);
  // False when written data could not be stored.
  bool close();

 private:
  platform::Env& env_;
  std::string hostPath_;
  std::unique_ptr<platform::ReadableFile> reader_;
  std::unique_ptr<platform::WritableFile> writer_;
  std::string error_;
};

// Writes a file whole or not at all: the content goes to a temporary file in
// the same folder, which replaces the target only in commit(), after it was
// stored durably. A reader never sees half a file; on any failure (or when
// commit() is never called) the old file stays and the temporary is removed.
// What a link at the target means: the file to write (a configuration's
// output file may be one the user linked elsewhere), or a link someone
// planted (the programs' own files in their work folder) that is refused.
enum class LinkAtTarget { Follow, Refuse };

class CAtomicFile {
 public:
  // With `durable` false the content is not forced to disk before the
  // rename: readers still never see half a file, but a power cut may lose
  // the update (fine for files that are rewritten often, like status files).
  // The temporary is created exclusively: nothing planted at its name is
  // ever written through.
  CAtomicFile(platform::Env& env, const std::string& path, bool durable = true,
              LinkAtTarget links = LinkAtTarget::Follow);
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  bool isValid() const { return writer_ != nullptr && error_.empty(); }
  bool append(const std::string& data);
  bool append(const char* data, size_t count);
  // Stores and renames over the target. False (with lastError) on failure.
  bool commit();
  const std::string& lastError() const { return error_; }

 private:
  void discard();

  platform::Env& env_;
  std::string target_;
  std::string temporary_;
  std::unique_ptr<platform::WritableFile> writer_;
  std::string error_;
  bool durable_;
};

// What the file system says of a file: the platform's record.
using CFileInfo = platform::FileInfo;

class CFileUtils {
 public:
  static bool fileExists(platform::Env& env, const std::string& path);
  static bool fileExists(const std::string& path);
  // False when the path cannot be examined.
  static bool getFileInfo(platform::Env& env, const std::string& path, CFileInfo& info);
  static bool getFileInfo(const std::string& path, CFileInfo& info);
  // The part after the last "\" or "/".
  static std::string fileNameFromPath(const std::string& path);
  // Writes a whole file through CAtomicFile; false with `error` on failure.
  static bool writeFileAtomically(platform::Env& env, const std::string& path, const std::string& content,
                                  std::string& error, bool durable = true, LinkAtTarget links = LinkAtTarget::Follow);
  static bool readFile(platform::Env& env, const std::string& path, std::string& content, std::string& error);
};

class CDir {
 public:
  // Removes a folder; with `recursive` also everything in it. True when the
  // folder is gone afterwards.
  static bool removeDirectory(platform::Env& env, const std::string& path, bool recursive);
  static bool removeDirectory(const std::string& path, bool recursive);
  // Creates a folder and its missing parents.
  static bool createDirectory(platform::Env& env, const std::string& path);
};

class CAppUtil {
 public:
  // Folder of the running program, ending with a separator.
  static std::string getExeFolder();
};

// The user's folders as logical paths (c:\home\ann\Documents on Linux).
class CSpecialFolder {
 public:
  // Each fills `path` and returns true, or returns false when the system
  // names no such folder. With `create` a missing folder is created.
  static bool getDocumentsPath(std::string& path, bool create);
  static bool getPicturesPath(std::string& path, bool create);
  static bool getMusicPath(std::string& path, bool create);
  static bool getDesktopPath(std::string& path, bool create);
};

}  // namespace ZR
