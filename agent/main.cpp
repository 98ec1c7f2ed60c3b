#include <string>
#include <vector>

#include "agent/cacheagent.h"
#include "bindings/zrcore/log.h"

int main(int argc, char** argv) {
  ZR::installCrashGuard("cacheagent");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int code = agent::runCacheAgent(arguments);
  ZR::CLogManager::shutdown();
  return code;
}
