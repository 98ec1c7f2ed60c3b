#include "engine/dornik.h"

#include <algorithm>
#include <cstdio>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "engine/exit_codes.h"
#include "platform/env.h"
#include "platform/path.h"

namespace dornik {
namespace {

constexpr const char* kVersion = "1.0.0";
constexpr const char* kHelp =
    "usage: dornik CONFIGURATION_FILE\n"
    "\n"
    "The policy engine: compares the snapshots that the configuration's\n"
    "policyEngine section names and writes an action set (or, in its two other\n"
    "modes, the unpersisted folders and their delete-only action set). Relative\n"
    "paths are taken from the configuration file's folder.\n"
    "\n"
    "exit codes: 0 done; 1 the merge failed; 50 not exactly one argument;\n"
    "100 the configuration cannot be read; -1 (255) no log, or an input of the\n"
    "unpersisted modes unreadable; 101 the directory snapshot is not readable\n"
    "XML; 102 the cache snapshot cannot be read; 103 an output cannot be\n"
    "written; 201-205 the directory snapshot is invalid; 208-213 the cache\n"
    "snapshot is invalid; 70 a crash.\n";

int runMode(platform::Env& env, Mode mode, const Settings& settings, ZR::CLogger& log) {
  switch (mode) {
    case Mode::ActionSet: return runActionSetMode(env, settings, log);
    case Mode::UnpersistedDirs: return runUnpersistedDirsMode(env, settings, log);
    case Mode::UnpersistedActionSet: return runUnpersistedActionSetMode(env, settings, log);
    case Mode::None: return kExitOk;
  }
  return kExitOk;
}

// A misspelt setting is otherwise silently left at its default (an empty
// path, which then reads as "cannot open").
void warnUnknownSettings(const ZR::CDornikTable& table, ZR::CLogger& log) {
  for (const auto& entry : table) {
    const std::string& name = entry.first;
    const std::vector<std::string>& known = Settings::names();
    if (std::find(known.begin(), known.end(), name) != known.end()) continue;
    std::string nearest = ZR::CStringUtils::nearestName(name, known);
    log.warning("%s", ("unknown setting <" + name + "> in policyEngine is ignored" +
                       (nearest.empty() ? "" : "; did you mean <" + nearest + ">?"))
                          .c_str());
  }
}

// What a failed run tells a person on standard error, in one line.
std::string failure(int code, const Settings& settings, ZR::CLogger& log) {
  struct Meaning {
    int code;
    const char* text;
    const std::string* file;
  } meanings[] = {
      {201, "the directory content snapshot's root element is not dir-content", &settings.dircontent},
      {202, "the directory content snapshot holds an element other than file or directory", &settings.dircontent},
      {203, "an entry of the directory content snapshot has no path", &settings.dircontent},
      {205, "an entry of the directory content snapshot has an empty path", &settings.dircontent},
      {208, "the cache content snapshot's root element is not cache-content", &settings.cachecontent},
      {209, "the cache content snapshot holds an element other than file or directory", &settings.cachecontent},
      {211, "an entry of the cache content snapshot has no path", &settings.cachecontent},
      {213, "an entry of the cache content snapshot has an empty path", &settings.cachecontent},
  };
  for (const Meaning& m : meanings) {
    if (m.code == code) return *m.file + ": " + m.text;
  }
  if (code == kExitDirContentUnparsable && settings.dircontent.empty()) {
    return "the configuration names no dircontent file (is the element's name misspelt? the log says)";
  }
  std::string last = log.lastProblem();
  if (!last.empty()) return last;
  if (code == kExitCacheContentUnreadable) return settings.cachecontent + ": the cache content snapshot cannot be read";
  return "the run failed";
}

std::string configurationFolder(platform::Env& env, const std::string& path) {
  std::string absolute = env.resolvedPath(platform::hostPath(path));
  return platform::parentFolder(absolute.empty() ? platform::hostPath(path) : absolute);
}

}  // namespace

int runDornik(platform::Env& env, const std::vector<std::string>& arguments) {
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::printf("%s", kHelp);
    return kExitOk;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    std::printf("dornik %s\n", kVersion);
    return kExitOk;
  }
  if (arguments.size() != 1) {
    std::printf(" Usage: dornik.exe <cachingpolicyengine.xml path>\n %d", static_cast<int>(arguments.size()));
    std::fflush(stdout);
    return kExitUsage;
  }
  const std::string& path = arguments[0];
  if (!ZR::CCachingPolicyEngineFileManager::initialize(env, 0, path, false)) {
    std::printf("Error initializing cachingpolicymanager: %d", kExitEngineFile);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", ZR::CCachingPolicyEngineFileManager::lastError().c_str());
    return kExitEngineFile;
  }
  if (!ZR::CConfigManager::initialize(env, 1, path, false)) {
    std::fprintf(stderr, "%s\n", ZR::CConfigManager::lastError().c_str());
    return kExitInitialisation;
  }
  ZR::CLogManager::initialize("dornik");
  ZR::CLogger* log = ZR::CLogManager::instance();
  if (!log) {
    std::fprintf(stderr, "dornik: no log could be set up\n");
    return kExitInitialisation;
  }

  ZR::CDornikTable table = ZR::CCachingPolicyEngineFileManager::instance()->getTable();
  warnUnknownSettings(table, *log);
  Settings settings = Settings::fromTable(table);
  settings.takePathsFrom(configurationFolder(env, path));
  Mode mode = chooseMode(settings);
  log->info("dornik started with %s: %s mode", path.c_str(), modeName(mode));
  int code = runMode(env, mode, settings, *log);
  log->info("dornik finished with exit code %d", code);
  if (code != kExitOk) std::fprintf(stderr, "dornik: %s (exit code %d)\n", failure(code, settings, *log).c_str(), code);
  return code;
}

}  // namespace dornik
