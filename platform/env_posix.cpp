#include "platform/env.h"
#include "platform/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

using posix::failure;
using posix::fillInfo;
using posix::PosixReadableFile;
using posix::PosixWritableFile;

DirectoryEntry::Kind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return DirectoryEntry::Kind::File;
  if (S_ISDIR(mode)) return DirectoryEntry::Kind::Directory;
  if (S_ISLNK(mode)) return DirectoryEntry::Kind::Link;
  return DirectoryEntry::Kind::Other;
}

Status openForWriting(const std::string& path, int flags, std::unique_ptr<WritableFile>* file) {
  file->reset();
  int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return failure("cannot open for writing", path);
  *file = std::make_unique<PosixWritableFile>(fd);
  return Status::ok();
}

class PosixEnv : public Env {
 public:
  bool fileExists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  bool getFileInfo(const std::string& path, FileInfo* info) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    fillInfo(st, info);
    return true;
  }

  Status openReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
    file->reset();
    // Non-blocking, so that a pipe put where a file was cannot hold the
    // open; then only a plain file is read, whose reading always ends.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return failure("cannot open", path);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      Status failed = failure("cannot examine", path);
      ::close(fd);
      return failed;
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return Status::invalid("cannot open " + path + (S_ISDIR(st.st_mode) ? ": it is a folder"
                                                                          : ": it is not a plain file (a pipe, device or socket)"));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *file = std::make_unique<PosixReadableFile>(fd);
    return Status::ok();
  }

  Status openWritable(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    return openForWriting(path, O_TRUNC, file);
  }

  Status openAppendable(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    return openForWriting(path, O_APPEND, file);
  }

  Status createExclusive(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    return openForWriting(path, O_EXCL | O_NOFOLLOW, file);
  }

  Status openWritableNoLink(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    Status opened = openForWriting(path, O_TRUNC | O_NOFOLLOW, file);
    if (!opened && errno == ELOOP) return Status::invalid(path + " is a link; it is not written through (remove it)");
    return opened;
  }

  Status renameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return Status::ok();
    return failure("cannot rename " + from + " to", to);
  }

  bool removeFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool removeTree(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
    std::vector<std::string> names;
    if (!listDirectory(path, &names)) return false;
    bool ok = true;
    for (const auto& name : names) ok = removeTree(path + "/" + name) && ok;
    return ::rmdir(path.c_str()) == 0 && ok;
  }

  bool createDirectories(const std::string& path) override {
    if (path.empty()) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      if (!createDirectories(path.substr(0, slash))) return false;
    }
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
  }

  bool listDirectory(const std::string& path, std::vector<std::string>* names) override {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    names->clear();
    while (struct dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names->push_back(std::move(name));
    }
    ::closedir(dir);
    return true;
  }

  Status scanDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return failure("cannot list", path);
    int fd = ::dirfd(dir);
    errno = 0;
    while (struct dirent* found = ::readdir(dir)) {
      const char* name = found->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      struct stat st;
      if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      DirectoryEntry entry;
      entry.name = name;
      entry.kind = kindOf(st.st_mode);
      fillInfo(st, &entry.info);
      entries->push_back(std::move(entry));
      errno = 0;
    }
    bool failed = errno != 0;
    ::closedir(dir);
    return failed ? failure("cannot list", path) : Status::ok();
  }
};

}  // namespace

int64_t Env::freeBytes(const std::string& path) {
  struct statvfs st;
  if (::statvfs(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

bool canRead(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

std::string resolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return "";
  std::string result = resolved;
  ::free(resolved);
  return result;
}

std::string finalLinkTarget(const std::string& path) {
  std::string current = path;
  for (int links = 0; links < 40; ++links) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1);
    ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<size_t>(length) >= target.size()) return path;
    std::string next(target.data(), static_cast<size_t>(length));
    if (next.empty()) return path;
    if (next[0] != '/') {
      size_t slash = current.find_last_of('/');
      next = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + next;
    }
    current = next;
  }
  return path;
}

bool copyFileAccess(const std::string& from, const std::string& to) {
  struct stat st;
  if (::stat(from.c_str(), &st) != 0) return false;
  // Owner first: changing it may clear the set-id bits that chmod then restores.
  if (::chown(to.c_str(), st.st_uid, st.st_gid) != 0) {
    [[maybe_unused]] int ignored = ::chown(to.c_str(), static_cast<uid_t>(-1), st.st_gid);
  }
  return ::chmod(to.c_str(), st.st_mode & 07777) == 0;
}

bool setModifiedTime(const std::string& path, int64_t unixSeconds) {
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

Env* Env::defaultEnv() {
  static PosixEnv* instance = new PosixEnv;  // never destroyed: used until exit
  return instance;
}

}  // namespace platform
