// velkan as cacheagent runs it: started in the work folder, its progress
// file shown on the terminal as it changes, its failures listed and its
// exit code told in words.
#pragma once

#include <cstdint>
#include <string>

#include "agent/agent_config.h"
#include "client/exit_codes.h"
#include "service/velkan_exceptions.h"
#include "status/run_progress.h"

namespace ZR {
class CLogger;
}

namespace agent {

class RunReport;

// velkan's exit code as the process layer gives it to us: the low byte
// (-9 is 247), on every system.
constexpr int seenByParent(int code) { return code & 0xFF; }
constexpr int kVelkanStoreFull = seenByParent(velkan::CCacheManagerSpaceLimitException::kSpaceLimitCode);

struct VelkanRun {
  int exitCode = -1;
  bool started = false;
  std::string startError;  // the system's reason when it could not be started
  velkan::ProgressReport report;
  bool reported = false;
  uint64_t failuresShown = 0;      // of the report's failures, told on the terminal
  std::string said;                 // what velkan said on its standard error
};

// Runs velkan in the work folder with the given share of a core and
// bandwidth (0: not limited); `eachFile` shows a line per file uploaded.
VelkanRun runVelkan(const AgentConfig& config, int cpuPercent, uint64_t bytesPerSecond, bool eachFile);

// The run's figures, its failures (each with its reason) into `report`.
void printUploadSummary(const VelkanRun& run, ZR::CLogger& log, RunReport& report);

// The meaning of velkan's exit codes, for the message of a failed run.
std::string velkanEnding(int code);

}  // namespace agent
