#include "platform/file_lock.h"
#include "platform/win32.h"

namespace platform {

FileLock::~FileLock() { release(); }

bool FileLock::tryLock(const std::string& path) { return takeLock(path).isOk(); }

Status FileLock::takeLock(const std::string& path) {
  release();
  DWORD attributes = GetFileAttributesW(utf8ToWide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return Status::invalid(path + " is a link; it is not opened (remove it)");
  }
  HANDLE file = CreateFileW(utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::ioError(win32::describeLastError("cannot write in " + path));
  handle_ = file;
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    release();
    return Status::refused(path + " is held by another process");
  }
  return Status::ok();
}

void FileLock::release() {
  if (handle_) CloseHandle(handle_);  // closing ends the lock
  handle_ = nullptr;
}

}  // namespace platform
