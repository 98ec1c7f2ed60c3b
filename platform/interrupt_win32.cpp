#include <atomic>

#include "platform/interrupt.h"
#include "platform/win32.h"

namespace platform {

std::atomic<bool>& interruptionFlag();

namespace {

BOOL WINAPI onRequest(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (interruptionFlag().exchange(true)) ExitProcess(kInterruptedExitCode);
      SetEvent(win32::interruptionEvent());
      // Closing the console ends the process when the handler returns: give
      // the run a moment to end in order.
      if (type == CTRL_CLOSE_EVENT) Sleep(4000);
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

HANDLE win32::interruptionEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void watchForInterruption() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  win32::interruptionEvent();  // made before a request can come
  SetConsoleCtrlHandler(onRequest, TRUE);
}

}  // namespace platform
