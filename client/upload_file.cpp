#include "client/upload_file.h"

#include "bindings/zrcore/file.h"
#include "client/velkan_exceptions.h"

namespace velkan {

CUploadFile::CUploadFile(std::string path, std::string mimeType, int64_t offset)
    : path_(std::move(path)), mimeType_(std::move(mimeType)), offset_(offset) {
  ZR::CFileInfo info;
  if (!ZR::CFileUtils::getFileInfo(path_, info) || info.isDirectory) {
    throw CFileNotFoundException("File : " + path_ + " is not found.\n");
  }
  constexpr uint64_t kEpochDifference = 11644473600ull;
  size_ = info.size;
  modifiedUnixSeconds_ = info.modifiedUnixSeconds;
  lastWrite_ = (static_cast<uint64_t>(info.modifiedUnixSeconds) + kEpochDifference) * 10000000ull;
}

}  // namespace velkan
