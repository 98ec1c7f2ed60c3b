// The POSIX file descriptors behind the Env's files, shared by the Env and
// the folder handles (internal to platform/).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/env.h"

namespace platform {
namespace posix {


// The failure of the last system call on `path`, by its errno.
inline Status failure(const std::string& what, const std::string& path) {
  int error = errno;
  std::string message = what + " " + path + ": " + std::strerror(error);
  if (error == EEXIST) return Status::exists(message);
  return error == ENOENT ? Status::notFound(message) : Status::ioError(message);
}

class PosixReadableFile : public ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  ~PosixReadableFile() override { ::close(fd_); }
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;

  int64_t read(char* buf, size_t n) override {
    for (;;) {
      ssize_t got = ::read(fd_, buf, n);
      if (got >= 0) return got;
      if (errno != EINTR) return -1;
    }
  }
  bool seek(uint64_t offset) override {
    return offset <= static_cast<uint64_t>(INT64_MAX) && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
  }

 private:
  int fd_;
};

inline void fillInfo(const struct stat& st, FileInfo* info) {
  info->size = static_cast<uint64_t>(st.st_size);
  info->modifiedUnixSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  info->modifiedNanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec);
  info->isDirectory = S_ISDIR(st.st_mode);
  info->isRegular = S_ISREG(st.st_mode);
  info->device = static_cast<uint64_t>(st.st_dev);
  info->fileId = static_cast<uint64_t>(st.st_ino);
  static const uid_t user = ::geteuid();
  static const gid_t group = ::getegid();
  info->othersMayWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (st.st_uid != user && st.st_uid != 0);
  mode_t readBit = st.st_uid == user ? S_IRUSR : st.st_gid == group ? S_IRGRP : S_IROTH;
  info->mayRead = user == 0 || (st.st_mode & readBit) != 0;
}


class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override { close(); }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  bool append(const char* data, size_t n) override {
    if (fd_ < 0) return false;
    while (n > 0) {
      ssize_t put = ::write(fd_, data, n);
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += put;
      n -= static_cast<size_t>(put);
    }
    return true;
  }

  bool sync() override { return fd_ >= 0 && ::fsync(fd_) == 0; }

  bool setMode(uint32_t mode) override { return fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode & 07777)) == 0; }

  bool setModifiedTime(int64_t unixSeconds, int32_t nanoseconds) override {
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), nanoseconds}};
    return fd_ >= 0 && ::futimens(fd_, times) == 0;
  }

  bool close() override {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

}  // namespace posix
}  // namespace platform
