#include <csignal>
#include <cstring>

#include "platform/crash.h"
#include "platform/win32.h"

// Fatal faults arrive as structured exceptions; the unhandled-exception
// filter reports them. abort() raises SIGABRT instead, which gets the same
// report.
namespace platform {
namespace {

CrashHandler installedHandler = nullptr;

const char* describeException(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation (invalid memory access)";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error (invalid memory access)";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION: return "arithmetic fault";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: return "illegal instruction";
    default: return "fatal structured exception";
  }
}

[[noreturn]] void endWith(const CrashInfo& crash) {
  int code = installedHandler ? installedHandler(crash) : 3;
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  _exit(code);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* pointers) {
  CrashInfo crash;
  const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
  crash.exceptionCode = record ? record->ExceptionCode : 0;
  crash.faultAddress = record ? record->ExceptionAddress : nullptr;
  crash.description = describeException(crash.exceptionCode);
  endWith(crash);
}

void onAbort(int sig) {
  CrashInfo crash;
  crash.signalNumber = sig;
  crash.description = "abort";
  endWith(crash);
}

bool writeAll(HANDLE file, const char* text) {
  DWORD left = static_cast<DWORD>(std::strlen(text));
  while (left > 0) {
    DWORD put = 0;
    if (!WriteFile(file, text, left, &put, nullptr) || put == 0) return false;
    text += put;
    left -= put;
  }
  return true;
}

}  // namespace

void installCrashHandler(CrashHandler handler) {
  installedHandler = handler;
  // Room for the filter to run after a stack overflow.
  ULONG reserve = 64 * 1024;
  SetThreadStackGuarantee(&reserve);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(onUnhandledException);
  // Only SIGABRT: mingw's runtime hands a structured fault to a SIGSEGV,
  // SIGILL or SIGFPE handler before any filter, which would lose the
  // exception code.
  std::signal(SIGABRT, onAbort);
}

void writeToStandardErrorNow(const char* text) { writeAll(GetStdHandle(STD_ERROR_HANDLE), text); }

bool appendToFileNow(const char* path, const char* text) {
  // Converted into a fixed buffer: a fault handler must not allocate.
  wchar_t name[MAX_PATH * 2];
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, name, MAX_PATH * 2) == 0) return false;
  HANDLE file = CreateFileW(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = writeAll(file, text);
  CloseHandle(file);
  return ok;
}

}  // namespace platform
