#include "agent/cacheagent.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "agent/agent_config.h"
#include "agent/backup.h"
#include "agent/console.h"
#include "agent/exit_codes.h"
#include "agent/history_command.h"
#include "agent/restore.h"
#include "agent/run_report.h"
#include "agent/schedule_command.h"
#include "agent/status_server.h"
#include "agent/watch_command.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/path.h"
#include "platform/process.h"

namespace agent {
namespace {

constexpr const char* kUsage =
    "usage: cacheagent COMMAND CONFIGURATION_FILE [ARGUMENTS]\n"
    "\n"
    "Backs up the folders that the configuration's <agent> section watches to\n"
    "the cache manager named in its cacheManagerClient section, with dornik and\n"
    "velkan.\n"
    "\n"
    "commands:\n"
    "  backup CONFIG [--dry-run] [--cpu N] [--allow-deletions] [--allow-changes]\n"
    "         [--bwlimit RATE]\n"
    "         [--json] [-q] [-v]\n"
    "        the whole cycle: scan the folders, list the cache, run dornik and\n"
    "        velkan, sum up. --dry-run stops after dornik and shows what would be\n"
    "        uploaded and deleted; --cpu N gives velkan N % of one core;\n"
    "        --allow-deletions carries out deletions beyond the configured share\n"
    "  watch CONFIG [--settle S] [--max-delay S] [--full-every H] [--cpu N]\n"
    "        [--allow-deletions] [--allow-changes] [--bwlimit RATE]\n"
    "        a backup, then the watched folders watched: a folder where files\n"
    "        changed is backed up once quiet for S seconds (default 2), or after\n"
    "        --max-delay seconds (60) if it never is; a full backup every H hours\n"
    "        (24); Ctrl-C stops it, keeping what waits for the next start\n"
    "  schedule install CONFIG (--watch | --every SPAN) | schedule remove CONFIG\n"
    "         | schedule status CONFIG\n"
    "        backups that run by themselves: a systemd user service that\n"
    "        watches, or a timer that backs up every SPAN (90min, 1h, 1d); on\n"
    "        Windows a Task Scheduler task\n"
    "  scan CONFIG\n"
    "        writes the directory content snapshot of the watched folders\n"
    "  cache-snapshot CONFIG\n"
    "        writes the cache content snapshot from the service's listing\n"
    "  restore CONFIG PATH... TARGET_FOLDER [--overwrite] [--dry-run]\n"
    "          [--include GLOB]... [--exclude GLOB]... [--connections N] [--at WHEN]\n"
    "        fetches the files the cache holds at or below each PATH (a file or\n"
    "        a folder, logical or host path) into TARGET_FOLDER; files that are\n"
    "        there are kept unless --overwrite is given; --dry-run tells what\n"
    "        would be fetched; globs pick files by their path below PATH;\n"
    "        N files are fetched at once (default 4)\n"
    "  ls CONFIG [PATH] [--long] [--at WHEN]\n"
    "        lists what the cache holds below PATH (default: the watched\n"
    "        folders); --long adds size, time, stored size and coding\n"
    "  versions CONFIG PATH\n"
    "        lists the earlier versions of a file the cache manager keeps\n"
    "        (numbered, oldest first; the last is the current one)\n"
    "        --at WHEN (ls, restore) sees the cache as it was: \"2026-12-01 10:00\"\n"
    "        (local time), yesterday, \"3 days ago\", or a version number of\n"
    "        the (first) PATH; files deleted since come back too\n"
    "  check CONFIG\n"
    "        compares the watched folders with what the cache holds\n"
    "  status CONFIG [--port N]\n"
    "        serves the status page (progress of the running backup, problems,\n"
    "        what went today) on 127.0.0.1, port N (default 8765)\n"
    "\n"
    "--json (backup, check, restore, ls, versions) writes one JSON document at the end\n"
    "to standard output (what is printed otherwise goes to standard error);\n"
    "-q prints only the problems (on standard error), -v each file as it goes.\n"
    "A backup leaves its report (every problem, skip and failure) in reports/\n"
    "of the work folder; the last 30 are kept.\n"
    "\n"
    "exit codes: 0 done; 1 done, but files were skipped or failed, or the cache\n"
    "differs; 2 wrong command line; 3 unusable configuration or missing watched\n"
    "folder; 4 the cache manager cannot be reached or refused the agent;\n"
    "5 dornik or velkan failed; 6 a file could not be written; 7 the backup would\n"
    "delete too much (--allow-deletions); 8 another backup is running;\n"
    "9 the backup would replace too many files at once (--allow-changes);\n"
    "130 interrupted (Ctrl-C or a termination: the run stops in order).\n";

int usage(const std::string& problem) {
  std::fprintf(stderr, "cacheagent: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

struct Command {
  std::string name;
  std::vector<std::string> positional;  // after the configuration file
  std::vector<std::string> flags;
  int cpu = -1;
  int port = 8765;
  int connections = 4;
  uint64_t bytesPerSecond = 0;
  std::vector<std::string> includes, excludes;
  std::string at;  // --at
  int settleSeconds = 2, maxDelaySeconds = 60, fullEveryHours = 24;
  int64_t everySeconds = 0;  // --every
  std::string everyText;
};

// An option that takes a number from `lowest` to `highest`.
bool numberAfter(const std::vector<std::string>& arguments, size_t& i, int64_t lowest, int64_t highest, int& value) {
  int64_t number = -1;
  if (i + 1 >= arguments.size() || !ZR::CNumberText::parseExact(arguments[i + 1], number) || number < lowest ||
      number > highest) {
    return false;
  }
  value = static_cast<int>(number);
  ++i;
  return true;
}

// Splits what follows the command into positional arguments and the flags
// the command knows; false, with the problem, for anything else.
bool parseArguments(const std::vector<std::string>& arguments, const std::vector<std::string>& known, Command& command,
                    std::string& problem) {
  for (size_t i = 2; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool knownFlag = std::find(known.begin(), known.end(), argument) != known.end();
    if (argument == "--cpu" && knownFlag) {
      if (!numberAfter(arguments, i, 1, 100, command.cpu)) {
        problem = "--cpu needs a share of 1 to 100 percent";
        return false;
      }
    } else if ((argument == "--settle" || argument == "--max-delay") && knownFlag) {
      int& seconds = argument == "--settle" ? command.settleSeconds : command.maxDelaySeconds;
      if (!numberAfter(arguments, i, 0, 86400, seconds)) {
        problem = argument + " needs a number of seconds from 0 to 86400";
        return false;
      }
    } else if (argument == "--every" && knownFlag) {
      if (i + 1 >= arguments.size() || !parseSpan(arguments[i + 1], command.everySeconds)) {
        problem = "--every needs a span from a minute to a year, such as 30min, 1h or 1d";
        return false;
      }
      command.everyText = arguments[++i];
    } else if (argument == "--full-every" && knownFlag) {
      if (!numberAfter(arguments, i, 1, 24 * 365, command.fullEveryHours)) {
        problem = "--full-every needs a number of hours from 1 to 8760";
        return false;
      }
    } else if (argument == "--port" && knownFlag) {
      if (!numberAfter(arguments, i, 0, 65535, command.port)) {
        problem = "--port needs a port number from 0 to 65535";
        return false;
      }
    } else if (argument == "--connections" && knownFlag) {
      if (!numberAfter(arguments, i, 1, 16, command.connections)) {
        problem = "--connections needs a number from 1 to 16";
        return false;
      }
    } else if (argument == "--at" && knownFlag) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        problem = "--at needs a time (2026-12-01 10:00, yesterday, 3 days ago) or a version number";
        return false;
      }
      command.at = arguments[++i];
    } else if (argument == "--bwlimit" && knownFlag) {
      if (i + 1 >= arguments.size() || !parseRate(arguments[i + 1], command.bytesPerSecond)) {
        problem = "--bwlimit needs a rate in bytes per second, such as 500K or 2M";
        return false;
      }
      ++i;
    } else if ((argument == "--include" || argument == "--exclude") && knownFlag) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        problem = argument + " needs a pattern";
        return false;
      }
      (argument == "--include" ? command.includes : command.excludes).push_back(arguments[++i]);
    } else if (ZR::CStringUtils::startsWith(argument, "-") && argument.size() > 1) {
      if (std::find(known.begin(), known.end(), argument) == known.end()) {
        problem = "unknown option " + argument + " for " + command.name;
        return false;
      }
      command.flags.push_back(argument);
    } else {
      command.positional.push_back(argument);
    }
  }
  return true;
}

bool has(const Command& command, const char* flag) {
  return std::find(command.flags.begin(), command.flags.end(), flag) != command.flags.end();
}

int runCommand(const Command& command, const AgentConfig& config, RunReport& report) {
  ZR::CLogger& log = ZR::CLogManager::logger();
  if (command.name == "scan") return runScan(config);
  if (command.name == "cache-snapshot") return runCacheSnapshot(config, log);
  if (command.name == "check") return runCheck(config, log, report);
  if (command.name == "status") return runStatusServer(config, command.port);
  if (command.name == "backup") {
    BackupOptions options;
    options.dryRun = has(command, "--dry-run");
    options.allowDeletions = has(command, "--allow-deletions");
    options.allowChanges = has(command, "--allow-changes");
    options.cpuPercent = command.cpu;
    options.bytesPerSecond = command.bytesPerSecond;
    options.verbose = has(command, "-v");
    return runBackup(config, options, log, report);
  }
  if (command.name == "watch") {
    WatchOptions options;
    options.backup.allowDeletions = has(command, "--allow-deletions");
    options.backup.allowChanges = has(command, "--allow-changes");
    options.backup.cpuPercent = command.cpu;
    options.backup.bytesPerSecond = command.bytesPerSecond;
    options.settleMs = command.settleSeconds * 1000;
    options.maxDelayMs = std::max(command.maxDelaySeconds, command.settleSeconds) * 1000;
    options.fullEveryMs = int64_t{command.fullEveryHours} * 3600 * 1000;
    return runWatch(config, options, log);
  }
  if (command.name == "schedule") {
    ScheduleRequest request;
    request.action = command.positional[0];
    request.watch = has(command, "--watch");
    request.everySeconds = command.everySeconds;
    request.everyText = command.everyText;
    return runSchedule(config, request);
  }
  if (command.name == "ls") {
    return runList(config, command.positional.empty() ? "" : command.positional[0], has(command, "--long"), command.at,
                   log, report);
  }
  if (command.name == "versions") return runVersions(config, command.positional[0], log, report);
  RestoreOptions options;
  options.paths.assign(command.positional.begin(), command.positional.end() - 1);
  options.targetFolder = command.positional.back();
  options.overwrite = has(command, "--overwrite");
  options.dryRun = has(command, "--dry-run");
  options.includes = command.includes;
  options.excludes = command.excludes;
  options.connections = command.connections;
  options.at = command.at;
  return runRestore(config, options, log, report);
}

// The command, with its report: a backup's is kept in the work folder;
// --json writes it as the one thing on standard output (what was printed
// goes to standard error); -q prints only the problems, on standard error,
// with or without --json.
int dispatch(const Command& command, const AgentConfig& config) {
  bool json = has(command, "--json"), quiet = has(command, "-q");
  std::optional<platform::OutputDiversion> diverted;
  if (json || quiet) diverted.emplace(quiet ? platform::OutputDiversion::To::Nowhere : platform::OutputDiversion::To::Error);
  RunReport report(command.name);
  int code = runCommand(command, config, report);
  report.end(code);
  if (command.name == "backup" && !has(command, "--dry-run")) {
    std::string path;
    platform::Status saved = report.save(*config.env, platform::joinPath(config.workFolder, "reports"), path);
    if (saved) {
      std::printf("report: %s\n", path.c_str());
    } else {
      ZR::CLogManager::logger().warning("%s", saved.message().c_str());
    }
  }
  if (quiet) {
    for (const char* list : {"problems", "failures", "missing", "changed", "onlyCached", "notRestored"}) {
      for (const std::string& line : report.lines(list)) std::fprintf(stderr, "%s: %s\n", list, line.c_str());
    }
  }
  if (json) diverted->writeOriginal(report.json());
  return code;
}

}  // namespace

int runCacheAgent(const std::vector<std::string>& given) {
  if (given.empty()) return usage("no command given");
  // "schedule ACTION CONFIG ...": the action is read as the first argument after the configuration.
  std::vector<std::string> arguments = given;
  if (arguments[0] == "schedule" && arguments.size() >= 3) std::swap(arguments[1], arguments[2]);
  if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
    std::printf("%s", kUsage);
    return kExitOk;
  }
  if (arguments[0] == "--version") {
    std::printf("cacheagent %s\n", kVersion);
    return kExitOk;
  }
  struct Known {
    const char* name;
    size_t fewest, most;  // arguments after the configuration file
    std::vector<std::string> flags;
  } commands[] = {
      {"backup",
       0,
       0,
       {"--dry-run", "--allow-deletions", "--allow-changes", "--cpu", "--bwlimit", "--json", "-q", "-v"}},
      {"watch",
       0,
       0,
       {"--settle", "--max-delay", "--full-every", "--cpu", "--bwlimit", "--allow-deletions", "--allow-changes"}},
      {"schedule", 1, 1, {"--watch", "--every"}},
      {"scan", 0, 0, {}},
      {"cache-snapshot", 0, 0, {}},
      {"restore",
       2,
       1000,
       {"--overwrite", "--dry-run", "--include", "--exclude", "--connections", "--at", "--json", "-q"}},
      {"ls", 0, 1, {"--long", "--at", "--json"}},
      {"versions", 1, 1, {"--json"}},
      {"check", 0, 0, {"--json", "-q"}},
      {"status", 0, 0, {"--port"}}};
  const Known* known = nullptr;
  for (const Known& k : commands) {
    if (arguments[0] == k.name) known = &k;
  }
  if (!known) return usage("unknown command " + arguments[0]);
  if (arguments.size() < 2) return usage(arguments[0] + " needs the configuration file");
  Command command;
  command.name = known->name;
  if (std::string problem; !parseArguments(arguments, known->flags, command, problem)) return usage(problem);
  if (command.positional.size() < known->fewest || command.positional.size() > known->most) {
    std::string count = known->fewest == known->most ? std::to_string(known->fewest)
                        : known->most == 1000      ? std::to_string(known->fewest) + " or more"
                                                   : std::to_string(known->fewest) + " to " + std::to_string(known->most);
    return usage(command.name + " takes " + count + " arguments after the configuration file");
  }
  if (command.name == "schedule") {
    const std::string& action = command.positional[0];
    bool watch = has(command, "--watch"), every = command.everySeconds > 0;
    if (action != "install" && action != "remove" && action != "status") {
      return usage("schedule takes install, remove or status, not " + action);
    }
    if (action == "install" && watch == every) return usage("schedule install needs --watch or --every SPAN");
    if (action != "install" && (watch || every)) return usage("--watch and --every go with schedule install");
  }
  AgentConfig config;
  if (platform::Status loaded = loadAgentConfig(*platform::env(), arguments[1], config); !loaded) {
    return fail(kExitConfiguration, loaded.message());
  }
  // The log goes where the configuration's <logging> puts dornik's and
  // velkan's (the work folder when it names none).
  ZR::CConfigManager::initialize(*config.env, 1, config.configurationPath, false);
  ZR::CLogManager::initialize("cacheagent", config.workFolder);
  return dispatch(command, config);
}

}  // namespace agent
