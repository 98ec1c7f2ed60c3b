#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>

#include "platform/path.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::~FileLock() { release(); }

bool FileLock::tryLock(const std::string& path) { return takeLock(path).isOk(); }

Status FileLock::takeLock(const std::string& path) {
  release();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    int error = errno;
    if (error == ELOOP) return Status::invalid(path + " is a link; it is not opened (remove it)");
    return Status::ioError("cannot write in " + parentFolder(path) + ": " + std::strerror(error));
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    release();
    return Status::refused(path + " is held by another process");
  }
  return Status::ok();
}

void FileLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
