#include <functional>

#include "platform/process.h"
#include "platform/sync.h"
#include "platform/win32.h"

namespace platform {
namespace {

// Kernel object names may not hold a backslash. ZR_IPC_DIR, which on POSIX
// names the folder of the lock files, sets runs apart here too.
std::wstring objectName(const std::string& name) {
  std::string out = "Local\\zr-";
  std::string space = environmentVariable("ZR_IPC_DIR");
  if (!space.empty()) out += std::to_string(std::hash<std::string>{}(space)) + "-";
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 c == '.';
    out += plain ? c : '_';
  }
  return utf8ToWide(out.substr(0, 200));
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) { handle_ = CreateMutexW(nullptr, FALSE, objectName(name).c_str()); }

NamedMutex::~NamedMutex() {
  if (!handle_) return;
  if (held_) ReleaseMutex(handle_);
  CloseHandle(handle_);
}

bool NamedMutex::valid() const { return handle_ != nullptr; }

bool NamedMutex::lock() {
  if (!handle_) return false;
  // An abandoned mutex (its holder ended) is ours now, as a lock file's
  // lock is when its holder's process ends.
  DWORD rc = WaitForSingleObject(handle_, INFINITE);
  if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) return false;
  held_ = true;
  return true;
}

bool NamedMutex::unlock() {
  if (!handle_ || !held_) return false;
  held_ = false;
  return ReleaseMutex(handle_) != 0;
}

NamedEvent::NamedEvent(const std::string& name) {
  handle_ = CreateEventW(nullptr, FALSE /* auto-reset */, FALSE, objectName(name).c_str());
}

NamedEvent::~NamedEvent() {
  if (handle_) CloseHandle(handle_);
}

bool NamedEvent::signal() { return handle_ && SetEvent(handle_); }

bool NamedEvent::wait(int timeoutMs) {
  if (!handle_) return false;
  DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(handle_, limit) == WAIT_OBJECT_0;
}

}  // namespace platform
