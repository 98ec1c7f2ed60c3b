// cacheagent's command line: `cacheagent COMMAND CONFIGURATION_FILE
// [ARGUMENTS]`, --help and --version. Returns the exit code (exit_codes.h).
#pragma once

#include <string>
#include <vector>

namespace agent {

constexpr const char* kVersion = "1.0.0";

int runCacheAgent(const std::vector<std::string>& arguments);

}  // namespace agent
