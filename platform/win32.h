// What the Windows side of the platform layer shares: the system headers
// with their macros tamed, UTF-8 <-> UTF-16 for system calls, error texts.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/unicode.h"  // utf8ToWide for the W functions, wideToUtf8 back

namespace platform::win32 {

// The system's text for an error number, without the trailing line end.
std::string errorText(DWORD error);

// "what: <system text>" for the calling thread's last error.
std::string describeLastError(const std::string& what);

// An event set when a person asks the program to stop (Ctrl-C and the
// like), for waits that must end then. Manual-reset; never closed.
HANDLE interruptionEvent();

// Closes a handle when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.release();
    }
    return *this;
  }

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace platform::win32
