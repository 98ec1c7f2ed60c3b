#include <string>
#include <vector>

#include "agent/cacheagent.h"
#include "bindings/zrcore/log.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::keepNewFilesPrivate();
  ZR::installCrashGuard("cacheagent");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int code = agent::runCacheAgent(arguments);
  ZR::CLogManager::shutdown();
  return code;
}
