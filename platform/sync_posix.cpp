#include "platform/sync.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

// Kernel object names may hold any character; keep the ones a file or
// semaphore name can carry.
std::string safeName(const std::string& name) {
  std::string out = "zr-" + std::to_string(::getuid()) + "-";
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 c == '.';
    out += plain ? c : '_';
  }
  return out.substr(0, 200);
}

std::string lockFolder() {
  const char* folder = std::getenv("ZR_IPC_DIR");
  return (folder && *folder) ? folder : "/tmp";
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) {
  std::string path = lockFolder() + "/" + safeName(name) + ".lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool NamedMutex::valid() const { return fd_ >= 0; }

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);  // closing ends a hold
}

bool NamedMutex::lock() {
  if (fd_ < 0) return false;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  held_ = true;
  return true;
}

bool NamedMutex::unlock() {
  if (fd_ < 0 || !held_) return false;
  held_ = false;
  return ::flock(fd_, LOCK_UN) == 0;
}

NamedEvent::NamedEvent(const std::string& name) {
  std::string semName = "/" + safeName(name);
  sem_t* sem = ::sem_open(semName.c_str(), O_CREAT, 0600, 0);
  handle_ = (sem == SEM_FAILED) ? nullptr : sem;
}

NamedEvent::~NamedEvent() {
  if (handle_) ::sem_close(static_cast<sem_t*>(handle_));
}

bool NamedEvent::signal() {
  if (!handle_) return false;
  sem_t* sem = static_cast<sem_t*>(handle_);
  int value = 0;
  if (::sem_getvalue(sem, &value) == 0 && value > 0) return true;
  return ::sem_post(sem) == 0;
}

bool NamedEvent::wait(int timeoutMs) {
  if (!handle_) return false;
  sem_t* sem = static_cast<sem_t*>(handle_);
  if (timeoutMs < 0) {
    while (::sem_wait(sem) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (::sem_timedwait(sem, &deadline) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace platform
