// An advisory lock on a file, held by this process until released or until
// the process ends; how one process tells others that a folder is in use.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates the file when needed and takes the lock without waiting. False
  // when another process (or another FileLock) holds it.
  bool tryLock(const std::string& path);
  // The same, and notes `holder` (a text that names this process for a
  // person) in a file beside the lock, "<path>.holder".
  bool tryLock(const std::string& path, const std::string& holder);
  // As tryLock, saying why not: refused() when another process holds it;
  // otherwise the reason the lock or its note cannot be had (a link
  // planted at either, which is never opened; a folder that cannot be
  // written, named with the system's reason).
  Status take(const std::string& path, const std::string& holder);
  void release();

  // What the process that holds the lock at `path` noted of itself; empty
  // when nothing was noted.
  static std::string holderOf(const std::string& path);

 private:
  // The lock alone, with the reason when it cannot be had.
  Status takeLock(const std::string& path);

#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace platform
