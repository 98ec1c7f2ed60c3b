#include "platform/crash.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace platform {
namespace {

CrashHandler installedHandler = nullptr;

const char* describeSignal(int sig) {
  switch (sig) {
    case SIGSEGV: return "segmentation fault (invalid memory access)";
    case SIGBUS: return "bus error (invalid memory access)";
    case SIGFPE: return "arithmetic fault";
    case SIGILL: return "illegal instruction";
    case SIGABRT: return "abort";
    default: return "fatal signal";
  }
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
  CrashInfo crash;
  crash.signalNumber = sig;
  crash.faultAddress = info ? info->si_addr : nullptr;
  crash.description = describeSignal(sig);
  int code = installedHandler ? installedHandler(crash) : 128 + sig;
  _exit(code);
}

bool writeAll(int fd, const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = ::write(fd, text, left);
    if (n <= 0) return false;
    text += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void installCrashHandler(CrashHandler handler) {
  installedHandler = handler;
  static char alternateStack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = alternateStack;
  ss.ss_size = sizeof alternateStack;
  sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_sigaction = onFatalSignal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &sa, nullptr);
}

void writeToStandardErrorNow(const char* text) { writeAll(2, text); }

bool appendToFileNow(const char* path, const char* text) {
  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text);
  ::close(fd);
  return ok;
}

}  // namespace platform
