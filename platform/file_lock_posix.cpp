#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::~FileLock() { release(); }

bool FileLock::tryLock(const std::string& path) {
  release();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    release();
    return false;
  }
  return true;
}

void FileLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
