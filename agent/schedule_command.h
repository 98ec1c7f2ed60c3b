// `cacheagent schedule install | remove | status CONFIG`: backups that run
// by themselves. On Linux a systemd user unit per configuration (a service
// that watches, or a service and a timer that back up every so often),
// written from the templates in agent/schedule/ into the user's unit folder
// ($XDG_CONFIG_HOME/systemd/user, else ~/.config/systemd/user) and enabled
// with `systemctl --user`. On Windows a Task Scheduler task (schtasks).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_config.h"

namespace agent {

// The seconds of a span as a person writes it: "90s", "15min", "15m",
// "1h", "2d" (at least a minute, at most a year); false otherwise.
bool parseSpan(const std::string& text, int64_t& seconds);

// The schedule's name for a configuration: "cacheagent-" and 12 hex digits
// made from its absolute path, so each configuration has its own.
std::string scheduleName(const std::string& configurationPath);

// A unit file from its template: @CACHEAGENT@ and @CONFIG@ quoted for an
// ExecStart line, @CONFIG_TEXT@ and @EVERY_TEXT@ as text, @EVERY@ in
// seconds.
std::string unitText(std::string_view unitTemplate, const std::string& cacheagent, const std::string& configuration,
                     int64_t everySeconds, const std::string& everyText);

// The command that creates the Windows task: every `everySeconds`, or at
// log-on when it is 0 (watching).
std::vector<std::string> taskCreation(const std::string& name, const std::string& cacheagent,
                                      const std::string& configuration, int64_t everySeconds);

struct ScheduleRequest {
  std::string action;        // install, remove, status
  bool watch = false;        // install: cacheagent watch, kept running
  int64_t everySeconds = 0;  // install: a backup this often
  std::string everyText;     // as the user wrote it
};

int runSchedule(const AgentConfig& config, const ScheduleRequest& request);

}  // namespace agent
