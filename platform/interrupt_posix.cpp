#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/interrupt.h"

namespace platform {

std::atomic<bool>& interruptionFlag();

namespace {

// Only async-signal-safe work here: set the flag, or end at the second request.
void onRequest(int) {
  if (interruptionFlag().exchange(true)) ::_exit(kInterruptedExitCode);
}

}  // namespace

void watchForInterruption() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = onRequest;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

}  // namespace platform
