// Last words of a process that hit a fatal fault (a bad memory access, an
// illegal instruction, an abort).
#pragma once

namespace platform {

struct CrashInfo {
  int signalNumber = 0;
  unsigned long exceptionCode = 0;  // Windows structured exceptions; 0 for signals
  const void* faultAddress = nullptr;
  const char* description = "";  // e.g. "segmentation fault"
};

// Called on the faulting thread with the fault's description. It should do
// little (write a report) and return the process exit code.
using CrashHandler = int (*)(const CrashInfo& info);

// Installs `handler` for fatal faults, on a stack of its own so that a stack
// overflow is reported too. The process ends with the handler's result.
void installCrashHandler(CrashHandler handler);

// Writes text to standard error with no buffering or allocation; safe from a
// fault handler.
void writeToStandardErrorNow(const char* text);

// Appends text to a file with no buffering or allocation; safe from a fault
// handler. False when the file cannot be written.
bool appendToFileNow(const char* path, const char* text);

}  // namespace platform
