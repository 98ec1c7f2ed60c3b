// A person's request that a program stop: Ctrl-C or a termination signal
// (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl-C, Ctrl-Break and the closing of
// the console on Windows). The program is told, through a flag, and ends
// in good order; a second request ends the process at once.
#pragma once

namespace platform {

// Installs the handlers. Idempotent; safe from any thread.
void watchForInterruption();

// True once a request came (or requestInterruption() was called).
bool interruptionRequested();

// Sets the flag as a request would (tests; a program stopping itself).
void requestInterruption();

// Clears the flag (tests).
void clearInterruption();

// The exit code that tells a shell the program was interrupted: 130, as a
// shell reports a program ended by Ctrl-C.
constexpr int kInterruptedExitCode = 130;

}  // namespace platform
