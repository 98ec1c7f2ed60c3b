#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// Folder for the users file: the user's own runtime folder when there is
// one, so no other user can get in the way.
std::string runtimeFolder() {
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  if (folder && *folder) return folder;
  folder = std::getenv("ZR_IPC_DIR");
  return (folder && *folder) ? folder : "/tmp";
}

bool ownedAndPrivate(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

// Every process that has the block open holds a shared lock on a users
// file; the last one to close gets the exclusive lock and removes the
// block. A process opening it takes its shared lock first, so it waits
// while a removal is under way and then creates a fresh block.
SharedMemory::SharedMemory(const std::string& name, size_t size) : size_(size) {
  std::string uid = std::to_string(::getuid());
  // ZR_IPC_NAMESPACE sets processes apart that must not share blocks (as
  // Windows sessions are), e.g. test runs side by side.
  const char* space = std::getenv("ZR_IPC_NAMESPACE");
  std::string scoped = (space && *space) ? std::string(space) + "." + name : name;
  objectName_ = "/" + scoped + "." + uid;
  usersFile_ = runtimeFolder() + "/zr-" + uid + "-" + scoped + ".users";
  if (!attach()) release();
}

bool SharedMemory::attach() {
  usersFd_ = ::open(usersFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (usersFd_ < 0) return fail("cannot open " + usersFile_);
  if (!ownedAndPrivate(usersFd_)) return fail(usersFile_ + " belongs to someone else or is open to others");
  while (::flock(usersFd_, LOCK_SH) != 0) {
    if (errno != EINTR) return fail("cannot lock " + usersFile_);
  }
  int fd = ::shm_open(objectName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return fail("cannot open shared memory " + objectName_);
  if (!ownedAndPrivate(fd)) {
    ::close(fd);
    errno = EACCES;
    return fail("shared memory " + objectName_ + " belongs to someone else or is open to others");
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || (static_cast<size_t>(st.st_size) < size_ && ::ftruncate(fd, static_cast<off_t>(size_)) != 0)) {
    ::close(fd);
    return fail("cannot size shared memory " + objectName_);
  }
  void* mapped = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) return fail("cannot map shared memory " + objectName_);
  data_ = static_cast<char*>(mapped);
  return true;
}

SharedMemory::~SharedMemory() { release(); }

bool SharedMemory::fail(const std::string& what) {
  error_ = errno;
  errorText_ = what + ": " + std::strerror(error_);
  return false;
}

void SharedMemory::release() {
  if (data_) ::munmap(data_, size_);
  data_ = nullptr;
  if (usersFd_ < 0) return;
  ::flock(usersFd_, LOCK_UN);
  if (::flock(usersFd_, LOCK_EX | LOCK_NB) == 0) {
    ::shm_unlink(objectName_.c_str());  // nobody else has it open
    ::flock(usersFd_, LOCK_UN);
  }
  ::close(usersFd_);
  usersFd_ = -1;
}

}  // namespace platform
