// The Windows handles behind the Env's files, shared by the Env and the
// folder handles (internal to platform/).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/win32.h"

namespace platform {
namespace win32files {

using win32::Handle;

// ReadFile and WriteFile take 32-bit counts.
inline DWORD chunkOf(size_t n) { return static_cast<DWORD>(std::min<size_t>(n, 1u << 30)); }

class WindowsReadableFile : public ReadableFile {
 public:
  explicit WindowsReadableFile(Handle handle) : handle_(std::move(handle)) {}

  int64_t read(char* buf, size_t n) override {
    DWORD got = 0;
    if (!ReadFile(handle_.get(), buf, chunkOf(n), &got, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return got;
  }
  bool seek(uint64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return offset <= static_cast<uint64_t>(INT64_MAX) && SetFilePointerEx(handle_.get(), to, nullptr, FILE_BEGIN) != 0;
  }

 private:
  Handle handle_;
};

// 100 ns ticks since 1601 as seconds and nanoseconds since 1970.
inline void setWriteTime(const FILETIME& time, FileInfo* info) {
  uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  constexpr uint64_t kTicksTo1970 = 116444736000000000ull;
  int64_t sinceEpoch = static_cast<int64_t>(ticks) - static_cast<int64_t>(kTicksTo1970);
  int64_t seconds = sinceEpoch / 10000000;
  int64_t rest = sinceEpoch % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  info->modifiedUnixSeconds = seconds;
  info->modifiedNanoseconds = static_cast<int32_t>(rest * 100);
}

class WindowsWritableFile : public WritableFile {
 public:
  explicit WindowsWritableFile(Handle handle) : handle_(std::move(handle)) {}
  ~WindowsWritableFile() override { close(); }

  bool append(const char* data, size_t n) override {
    if (!handle_.valid()) return false;
    while (n > 0) {
      DWORD put = 0;
      if (!WriteFile(handle_.get(), data, chunkOf(n), &put, nullptr) || put == 0) return false;
      data += put;
      n -= put;
    }
    return true;
  }

  bool sync() override { return handle_.valid() && FlushFileBuffers(handle_.get()); }

  bool close() override {
    if (!handle_.valid()) return true;
    return CloseHandle(handle_.release()) != 0;
  }

 private:
  Handle handle_;
};

// Others may read, rename or delete a file we have open, as POSIX allows;
// without FILE_SHARE_DELETE an atomic replace would fail while a reader
// holds the old file.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The failure of the last system call, by its error code.
inline Status failure(const std::string& what) {
  DWORD code = GetLastError();
  std::string message = what + ": " + win32::errorText(code);
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return Status::exists(message);
  return (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) ? Status::notFound(message)
                                                                        : Status::ioError(message);
}

}  // namespace win32files
}  // namespace platform
