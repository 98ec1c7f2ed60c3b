#include "platform/file_lock.h"
#include "platform/win32.h"

namespace platform {

FileLock::~FileLock() { release(); }

bool FileLock::tryLock(const std::string& path) {
  release();
  HANDLE file = CreateFileW(utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = file;
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    release();
    return false;
  }
  return true;
}

void FileLock::release() {
  if (handle_) CloseHandle(handle_);  // closing ends the lock
  handle_ = nullptr;
}

}  // namespace platform
