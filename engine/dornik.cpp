#include "engine/dornik.h"

#include <cstdio>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "engine/exit_codes.h"

namespace dornik {
namespace {

int runMode(Mode mode, const Settings& settings, ZR::CLogger& log) {
  switch (mode) {
    case Mode::ActionSet: return runActionSetMode(settings, log);
    case Mode::UnpersistedDirs: return runUnpersistedDirsMode(settings, log);
    case Mode::UnpersistedActionSet: return runUnpersistedActionSetMode(settings, log);
    case Mode::None: return kExitOk;
  }
  return kExitOk;
}

}  // namespace

int runDornik(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) {
    std::printf(" Usage: dornik.exe <cachingpolicyengine.xml path>\n %d", static_cast<int>(arguments.size()));
    std::fflush(stdout);
    return kExitUsage;
  }
  const std::string& path = arguments[0];
  if (!ZR::CCachingPolicyEngineFileManager::initialize(0, path, false)) {
    std::printf("Error initializing cachingpolicymanager: %d", kExitEngineFile);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", ZR::CCachingPolicyEngineFileManager::lastError().c_str());
    return kExitEngineFile;
  }
  if (!ZR::CConfigManager::initialize(1, path, false)) {
    std::fprintf(stderr, "%s\n", ZR::CConfigManager::lastError().c_str());
    return kExitInitialisation;
  }
  ZR::CLogManager::initialize("dornik");
  ZR::CLogger* log = ZR::CLogManager::instance();
  if (!log) return kExitInitialisation;

  ZR::CDornikTable table = ZR::CCachingPolicyEngineFileManager::instance()->getTable();
  Settings settings = Settings::fromTable(table);
  Mode mode = chooseMode(settings);
  log->info("dornik started with %s: %s mode", path.c_str(), modeName(mode));
  int code = runMode(mode, settings, *log);
  log->info("dornik finished with exit code %d", code);
  return code;
}

}  // namespace dornik
