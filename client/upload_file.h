// One file of a create action: its path, MIME type, the bytes the cache
// already holds, and what the file system says of it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace velkan {

class CUploadFile {
 public:
  // Looks the file up; throws CFileNotFoundException "File : <path> is not
  // found.\n" when it cannot be examined.
  // Examines the file through `env`.
  CUploadFile(platform::Env& env, std::string path, std::string mimeType, int64_t offset);

  const std::string& path() const { return path_; }
  const std::string& mimeType() const { return mimeType_; }
  int64_t offset() const { return offset_; }
  uint64_t size() const { return size_; }
  // Last write, as a 64-bit file time (100 ns units since 1601).
  uint64_t lastWriteTime() const { return lastWrite_; }
  int64_t modifiedUnixSeconds() const { return info_.modifiedUnixSeconds; }
  // The file system's record as the lookup found it.
  const platform::FileInfo& fileInfo() const { return info_; }

 private:
  std::string path_;
  std::string mimeType_;
  int64_t offset_;
  uint64_t size_ = 0;
  uint64_t lastWrite_ = 0;
  platform::FileInfo info_;
};

}  // namespace velkan
