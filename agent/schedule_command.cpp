#include "agent/schedule_command.h"

#include <cstdio>

#include "agent/console.h"
#include "agent/exit_codes.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"

namespace agent {

extern const std::string_view kBackupServiceUnit;
extern const std::string_view kBackupTimerUnit;
extern const std::string_view kWatchServiceUnit;

namespace {

constexpr int64_t kMinute = 60;
constexpr int64_t kYear = 365 * 24 * 3600;

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// A path inside the double quotes of an ExecStart line: systemd reads "\"
// and """ escaped, "%" as a specifier and "$" as a variable.
std::string execQuoted(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

// Text in a unit's Description: only "%" is special there.
std::string unitPlainText(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

// A program found on the PATH; empty when it is on none of its folders.
std::string programOnPath(platform::Env& env, const std::string& name) {
#ifdef _WIN32
  const char separator = ';';
  const std::string suffix = ".exe";
#else
  const char separator = ':';
  const std::string suffix;
#endif
  std::string path = platform::environmentVariable("PATH");
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(separator, start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = platform::joinPath(path.substr(start, end - start), name + suffix);
    if (end > start && env.fileExists(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

struct Ran {
  bool ok = false;
  std::string said;  // its output and errors, or why it did not start
};

Ran runTool(const std::vector<std::string>& argv) {
  platform::ProcessResult result;
  Ran ran;
  if (!platform::runProcess(argv, {}, "", &result)) {
    ran.said = "cannot start " + argv[0] + ": " + result.startError;
    return ran;
  }
  ran.ok = result.exitCode == 0;
  ran.said = result.standardOutput + result.standardError;
  while (!ran.said.empty() && (ran.said.back() == '\n' || ran.said.back() == '\r' || ran.said.back() == ' ')) {
    ran.said.pop_back();
  }
  return ran;
}

#ifndef _WIN32

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
  return out;
}

std::string unitFolder() {
  std::string config = platform::environmentVariable("XDG_CONFIG_HOME");
  if (config.empty()) config = platform::joinPath(platform::environmentVariable("HOME"), ".config");
  return platform::joinPath(platform::joinPath(config, "systemd"), "user");
}

class SystemdSchedule {
 public:
  SystemdSchedule(const AgentConfig& config, std::string systemctl)
      : config_(config),
        env_(*config.env),
        systemctl_(std::move(systemctl)),
        folder_(unitFolder()),
        name_(scheduleName(config.configurationPath)) {}

  int install(const ScheduleRequest& request) {
    std::string cacheagent = platform::executablePath();
    if (cacheagent.empty()) return fail(kExitProgram, "cannot tell where this cacheagent program is");
    removeUnits(false);
    std::vector<std::pair<std::string, std::string_view>> units;
    if (request.watch) {
      units = {{name_ + ".service", kWatchServiceUnit}};
    } else {
      units = {{name_ + ".service", kBackupServiceUnit}, {name_ + ".timer", kBackupTimerUnit}};
    }
    if (!env_.createDirectories(folder_)) return fail(kExitWrite, "cannot create the unit folder " + folder_);
    for (const auto& [file, unitTemplate] : units) {
      std::string text =
          unitText(unitTemplate, cacheagent, config_.configurationPath, request.everySeconds, request.everyText);
      std::string error, path = platform::joinPath(folder_, file);
      if (!ZR::CFileUtils::writeFileAtomically(env_, path, text, error)) return fail(kExitWrite, error);
      std::printf("wrote %s\n", path.c_str());
    }
    std::string started = request.watch ? name_ + ".service" : name_ + ".timer";
    for (const std::vector<std::string>& step :
         {std::vector<std::string>{"daemon-reload"}, std::vector<std::string>{"enable", "--now", started}}) {
      if (Ran ran = systemctl(step); !ran.ok) {
        return fail(kExitProgram, "systemctl --user " + joined(step) + " failed" +
                                      (ran.said.empty() ? "" : ": " + ran.said) + "; the unit files are in " + folder_ +
                                      ", enable " + started + " once the user's systemd runs");
      }
    }
    std::printf("%s\n", request.watch ? ("cacheagent watch runs now and at every log-in (" + started + ")").c_str()
                                      : ("a backup runs every " + request.everyText + " (" + started + ")").c_str());
    return kExitOk;
  }

  int remove() {
    bool any = removeUnits(true);
    systemctl({"daemon-reload"});
    std::printf("%s\n", any ? ("removed the schedule " + name_).c_str() : "no schedule of this configuration");
    return kExitOk;
  }

  int status() {
    bool watch = env_.fileExists(unit(".service")) && !env_.fileExists(unit(".timer"));
    bool every = env_.fileExists(unit(".timer"));
    if (!watch && !every) {
      std::printf("not scheduled (cacheagent schedule install CONFIG --watch | --every 1h)\n");
      return kExitOk;
    }
    std::string main = watch ? name_ + ".service" : name_ + ".timer";
    Ran active = systemctl({"is-active", main});
    std::printf("%s: %s (%s)\n", main.c_str(), watch ? "watching" : "backups on a timer",
                active.said.empty() ? "state unknown" : active.said.c_str());
    if (every) {
      Ran next = systemctl({"show", "-p", "NextElapseUSecRealtime", "-p", "LastTriggerUSec", "--value", main});
      if (next.ok && !next.said.empty()) std::printf("next and last run:\n%s\n", next.said.c_str());
    }
    return kExitOk;
  }

 private:
  std::string unit(const std::string& suffix) const { return platform::joinPath(folder_, name_ + suffix); }

  bool removeUnits(bool stop) {
    bool any = false;
    for (const char* suffix : {".timer", ".service"}) {
      if (!env_.fileExists(unit(suffix))) continue;
      if (stop) systemctl({"disable", "--now", name_ + suffix});
      env_.removeFile(unit(suffix));
      any = true;
    }
    return any;
  }

  Ran systemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {systemctl_, "--user"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runTool(argv);
  }

  const AgentConfig& config_;
  platform::Env& env_;
  std::string systemctl_;
  std::string folder_;
  std::string name_;
};

#else

int scheduleTask(const AgentConfig& config, const ScheduleRequest& request, const std::string& schtasks) {
  std::string name = scheduleName(config.configurationPath);
  std::vector<std::string> argv;
  if (request.action == "install") {
    argv = taskCreation(name, platform::executablePath(), config.configurationPath, request.everySeconds);
  } else if (request.action == "remove") {
    argv = {"/Delete", "/F", "/TN", name};
  } else {
    argv = {"/Query", "/TN", name, "/FO", "LIST"};
  }
  argv.insert(argv.begin(), schtasks);
  Ran ran = runTool(argv);
  if (!ran.ok) return fail(kExitProgram, "schtasks failed" + (ran.said.empty() ? "" : ": " + ran.said));
  std::printf("%s\n", ran.said.c_str());
  return kExitOk;
}

#endif

}  // namespace

bool parseSpan(const std::string& text, int64_t& seconds) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  int64_t number = 0;
  if (digits == 0 || digits > 9 || !ZR::CNumberText::parseExact(text.substr(0, digits), number)) return false;
  std::string unit = text.substr(digits);
  int64_t scale = unit == "s" ? 1 : unit == "m" || unit == "min" ? 60 : unit == "h" ? 3600 : unit == "d" ? 86400 : 0;
  if (scale == 0 || number * scale < kMinute || number * scale > kYear) return false;
  seconds = number * scale;
  return true;
}

std::string scheduleName(const std::string& configurationPath) {
  uint64_t hash = 1469598103934665603ULL;  // FNV-1a: stable wherever it runs
  for (unsigned char c : configurationPath) hash = (hash ^ c) * 1099511628211ULL;
  char text[32];
  std::snprintf(text, sizeof text, "cacheagent-%012llx", static_cast<unsigned long long>(hash & 0xffffffffffffULL));
  return text;
}

std::string unitText(std::string_view unitTemplate, const std::string& cacheagent, const std::string& configuration,
                     int64_t everySeconds, const std::string& everyText) {
  std::string text(unitTemplate);
  replaceAll(text, "@CACHEAGENT@", execQuoted(cacheagent));
  replaceAll(text, "@CONFIG@", execQuoted(configuration));
  replaceAll(text, "@CONFIG_TEXT@", unitPlainText(configuration));
  replaceAll(text, "@EVERY_TEXT@", unitPlainText(everyText));
  replaceAll(text, "@EVERY@", std::to_string(everySeconds) + "s");
  return text;
}

std::vector<std::string> taskCreation(const std::string& name, const std::string& cacheagent,
                                      const std::string& configuration, int64_t everySeconds) {
  std::string command = "\"" + cacheagent + "\" " + (everySeconds > 0 ? "backup" : "watch") + " \"" + configuration +
                        "\"" + (everySeconds > 0 ? " -q" : "");
  std::vector<std::string> argv = {"/Create", "/F", "/TN", name, "/TR", command};
  int64_t minutes = std::max<int64_t>(1, everySeconds / 60);
  if (everySeconds == 0) {
    argv.insert(argv.end(), {"/SC", "ONLOGON"});
  } else if (minutes < 24 * 60 && minutes % 60 != 0) {
    argv.insert(argv.end(), {"/SC", "MINUTE", "/MO", std::to_string(minutes)});
  } else if (minutes < 24 * 60) {
    argv.insert(argv.end(), {"/SC", "HOURLY", "/MO", std::to_string(minutes / 60)});
  } else {
    argv.insert(argv.end(), {"/SC", "DAILY", "/MO", std::to_string(minutes / (24 * 60))});
  }
  return argv;
}

int runSchedule(const AgentConfig& config, const ScheduleRequest& request) {
#ifdef _WIN32
  std::string schtasks = programOnPath(*config.env, "schtasks");
  if (schtasks.empty()) return fail(kExitProgram, "schtasks is not on the PATH: the Task Scheduler cannot be reached");
  return scheduleTask(config, request, schtasks);
#else
  std::string systemctl = programOnPath(*config.env, "systemctl");
  if (systemctl.empty()) {
    return fail(kExitProgram,
                "systemctl is not on the PATH: this system has no systemd to run the schedule;"
                " run cacheagent backup from the system's own scheduler (cron) instead");
  }
  SystemdSchedule schedule(config, systemctl);
  if (request.action == "install") return schedule.install(request);
  if (request.action == "remove") return schedule.remove();
  return schedule.status();
#endif
}

}  // namespace agent
