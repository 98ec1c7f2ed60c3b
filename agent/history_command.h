// What the cache manager's history keeps: `versions` lists a file's kept
// versions, and --at of `ls` and `restore` names the moment to see.
#pragma once

#include <cstdint>
#include <string>

#include "agent/agent_config.h"
#include "agent/cache_service.h"
#include "agent/run_report.h"
#include "platform/status.h"

namespace ZR {
class CLogger;
}

namespace agent {

// A moment as a user writes it: "2026-12-01 10:00" (or a date alone, or
// with seconds) in local time, "now", "yesterday", "3 days ago", "2 hours
// ago", "30 minutes ago". False when it is none of these.
bool parseMoment(const std::string& text, int64_t now, int64_t& when);

// parseMoment, or a version number as `versions` numbers them for `path`
// (the last, one past the kept ones, is the current file).
platform::Status resolveMoment(CacheService& service, const std::string& text, const std::string& path, int64_t now,
                               int64_t& when);

// Lists the kept versions of a file, oldest first, then the current one.
int runVersions(const AgentConfig& config, const std::string& path, ZR::CLogger& log, RunReport& report);

}  // namespace agent
