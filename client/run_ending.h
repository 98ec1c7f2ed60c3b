// How a velkan run ends besides the codes it has always had (0, the
// service's negative codes, -1, -101, -102, -103, 70): our own codes are
// positive, so none can be mistaken for a service code.
#pragma once

#include <string>

#include "platform/interrupt.h"
#include "service/velkan_exceptions.h"

namespace velkan {

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

// A run that stopped early ends with this; its text says why for a person.
class CRunEndedEarly : public CVelkanException {
 public:
  CRunEndedEarly(int code, std::string text) : CVelkanException(std::move(text)), code_(code) {}
  int exitCode() const { return code_; }

 private:
  int code_;
};

}  // namespace velkan
