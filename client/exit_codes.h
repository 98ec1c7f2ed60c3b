// velkan's exit codes, every one in one place. Besides these, a run that
// the service ended exits with the service's own negative result code
// (errorCode() of the exception); our own codes are positive, so none can
// be mistaken for a service code.
#pragma once

#include "platform/interrupt.h"

namespace velkan {

constexpr int kExitOk = 0;
// The run went to its end, but files were not uploaded for a reason other
// than a limit (a transport failure, an unreadable, vanished or changed
// file, a failed preparation, a refusal of the service).
constexpr int kExitNotAllUploaded = 2;
// The service could not be reached: the run stopped early.
constexpr int kExitServiceUnreachable = 3;
// The agent authentication file is missing: no call can succeed, the run stopped early.
constexpr int kExitNoAuthentication = 4;
// Another velkan works on the same state (file index, status files).
constexpr int kExitAlreadyRunning = 5;
// Ctrl-C or a termination signal.
constexpr int kExitInterrupted = platform::kInterruptedExitCode;
// No configuration file was given.
constexpr int kExitUsage = -101;
// The log could not be set up.
constexpr int kExitInitialisation = -1;
// A configuration, action set or setting the run could not use.
constexpr int kExitStandardException = -102;
// Anything else that ended the run.
constexpr int kExitUnknownException = -103;

}  // namespace velkan
