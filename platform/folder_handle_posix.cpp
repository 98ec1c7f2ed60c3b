#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/folder_handle.h"
#include "platform/posix_files.h"

namespace platform {
namespace {

using posix::failure;

Status badName(const std::string& folder, const std::string& name) {
  return Status::invalid("\"" + name + "\" is no name a file in " + folder + " can have");
}

class PosixFolder : public FolderHandle {
 public:
  PosixFolder(std::string path, int fd) : FolderHandle(std::move(path)), fd_(fd) {}
  ~PosixFolder() override { ::close(fd_); }

  Status child(const std::string& name, bool create, std::unique_ptr<FolderHandle>* folder) override {
    if (!plainName(name)) return badName(path(), name);
    std::string full = path() + "/" + name;
    if (create && ::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) return failure("cannot create", full);
    int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return refusedIfLink(name, full, "cannot open the folder");
    *folder = std::make_unique<PosixFolder>(full, fd);
    return Status::ok();
  }

  Status info(const std::string& name, FileInfo* info, bool* isLink) override {
    if (!plainName(name)) return badName(path(), name);
    struct stat st;
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return failure("cannot examine", path() + "/" + name);
    posix::fillInfo(st, info);
    if (isLink) *isLink = S_ISLNK(st.st_mode);
    return Status::ok();
  }

  Status openReadable(const std::string& name, std::unique_ptr<ReadableFile>* file) override {
    file->reset();
    if (!plainName(name)) return badName(path(), name);
    std::string full = path() + "/" + name;
    int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return refusedIfLink(name, full, "cannot open");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return Status::invalid("cannot open " + full + ": it is not a plain file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *file = std::make_unique<posix::PosixReadableFile>(fd);
    return Status::ok();
  }

  Status createExclusive(const std::string& name, uint32_t mode, std::unique_ptr<WritableFile>* file) override {
    file->reset();
    if (!plainName(name)) return badName(path(), name);
    int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      static_cast<mode_t>(mode & 07777));
    if (fd < 0) return failure("cannot create", path() + "/" + name);
    *file = std::make_unique<posix::PosixWritableFile>(fd);
    return Status::ok();
  }

  Status rename(const std::string& from, const std::string& to, bool replace) override {
    if (!plainName(from)) return badName(path(), from);
    if (!plainName(to)) return badName(path(), to);
    if (replace ? ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 : renameNoReplace(from, to)) return Status::ok();
    return failure("cannot rename " + path() + "/" + from + " to", path() + "/" + to);
  }

  Status remove(const std::string& name) override {
    if (!plainName(name)) return badName(path(), name);
    if (::unlinkat(fd_, name.c_str(), 0) == 0) return Status::ok();
    return failure("cannot remove", path() + "/" + name);
  }

  Status list(std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
      if (fd >= 0) ::close(fd);
      return failure("cannot list", path());
    }
    while (struct dirent* found = ::readdir(dir)) {
      std::string name = found->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      DirectoryEntry entry;
      entry.name = std::move(name);
      entry.kind = S_ISREG(st.st_mode)   ? DirectoryEntry::Kind::File
                   : S_ISDIR(st.st_mode) ? DirectoryEntry::Kind::Directory
                   : S_ISLNK(st.st_mode) ? DirectoryEntry::Kind::Link
                                         : DirectoryEntry::Kind::Other;
      posix::fillInfo(st, &entry.info);
      entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    return Status::ok();
  }

  Status setModifiedTime(const std::string& name, int64_t unixSeconds, int32_t nanoseconds) override {
    if (!plainName(name)) return badName(path(), name);
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), nanoseconds}};
    if (::utimensat(fd_, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return Status::ok();
    return failure("cannot set the time of", path() + "/" + name);
  }

  Status setMode(const std::string& name, uint32_t mode) override {
    if (!plainName(name)) return badName(path(), name);
    int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return refusedIfLink(name, path() + "/" + name, "cannot open");
    int rc = ::fchmod(fd, static_cast<mode_t>(mode & 07777));
    ::close(fd);
    if (rc == 0) return Status::ok();
    return failure("cannot set the permissions of", path() + "/" + name);
  }

  Status sync() override {
    if (::fsync(fd_) == 0) return Status::ok();
    return failure("cannot make durable", path());
  }

  Status syncFileSystem() override {
#ifdef __linux__
    if (::syncfs(fd_) == 0) return Status::ok();
    return failure("cannot make durable the file system of", path());
#else
    return Status::refused("no file-system sync here");
#endif
  }

 private:
  // A new name for a file that never replaces one: a hard link, then the
  // old name goes (a link fails when anything is at `to`).
  bool renameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(fd_, from.c_str(), fd_, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;  // the file system cannot: as below
#endif
    if (::linkat(fd_, from.c_str(), fd_, to.c_str(), 0) != 0) return false;
    ::unlinkat(fd_, from.c_str(), 0);
    return true;
  }

  // An open that failed: a link found there is named as such.
  Status refusedIfLink(const std::string& name, const std::string& full, const std::string& what) {
    int error = errno;
    struct stat st;
    if ((error == ELOOP || error == ENOTDIR) && ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      return Status::refused(full + " is a link; links are not followed");
    }
    errno = error;
    return failure(what, full);
  }

  int fd_;
};

}  // namespace

bool legalFileName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

Status FolderHandle::open(const std::string& path, std::unique_ptr<FolderHandle>* folder) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return failure("cannot open the folder", path);
  std::string clean = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
  *folder = std::make_unique<PosixFolder>(clean, fd);
  return Status::ok();
}

}  // namespace platform
