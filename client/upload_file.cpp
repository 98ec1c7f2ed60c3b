#include "client/upload_file.h"

#include "platform/path.h"
#include "service/velkan_exceptions.h"

namespace velkan {

CUploadFile::CUploadFile(platform::Env& env, std::string path, std::string mimeType, int64_t offset)
    : path_(std::move(path)), mimeType_(std::move(mimeType)), offset_(offset) {
  if (!env.getFileInfo(platform::hostPath(path_), &info_) || info_.isDirectory) {
    throw CFileNotFoundException("File : " + path_ + " is not found.\n");
  }
  // A pipe would hold the run, a device (a link to /dev/zero) never end it.
  if (!info_.isRegular) {
    throw CFileNotFoundException("File : " + path_ + " is not a plain file (a pipe, device or socket); skipped.\n");
  }
  constexpr uint64_t kEpochDifference = 11644473600ull;
  size_ = info_.size;
  lastWrite_ = (static_cast<uint64_t>(info_.modifiedUnixSeconds) + kEpochDifference) * 10000000ull +
               static_cast<uint64_t>(info_.modifiedNanoseconds) / 100;
}

}  // namespace velkan
