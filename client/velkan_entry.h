// velkan's run from the command line: arguments, initialisation, the run in
// direct or throttled mode, and the exit code of every ending.
#pragma once

#include <string>
#include <vector>

namespace velkan {

// Exit codes besides the service's own (errorCode() of the exception).
constexpr int kExitUsage = -101;
constexpr int kExitInitialisation = -1;
constexpr int kExitStandardException = -102;
constexpr int kExitUnknownException = -103;

// Runs velkan with the arguments after the program name; returns the exit code.
int runVelkan(const std::vector<std::string>& arguments);

class RunProgress;

// One run of the client object with the exceptions mapped to exit codes;
// its progress goes to status/cs_progress.xml, ended with the exit code.
int runClient(const std::string& configurationPath);
// The same, telling the progress to `progress` (may be null), which is not ended.
int runClient(const std::string& configurationPath, RunProgress* progress);

}  // namespace velkan
