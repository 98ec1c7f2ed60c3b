// velkan's run from the command line: arguments, initialisation, the run in
// direct or throttled mode, and the exit code of every ending.
#pragma once

#include <string>
#include <vector>

#include "client/run_ending.h"

namespace velkan {

constexpr const char* kVelkanVersion = "1.0.0";

// Runs velkan with the arguments after the program name; returns the exit
// code. A run that ends with any other code than 0 says why on standard
// error, in one line.
int runVelkan(const std::vector<std::string>& arguments);

class RunProgress;

// How one run of the client object ended: the exit code, and for a person
// what went wrong (empty for 0).
struct RunEnding {
  int code = 0;
  std::string message;
};

// One run of the client object with the exceptions mapped to exit codes,
// telling its progress to `progress` (may be null), which is not ended.
RunEnding runClient(const std::string& configurationPath, RunProgress* progress);

}  // namespace velkan
