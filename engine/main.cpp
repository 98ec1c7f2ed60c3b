#include <string>
#include <vector>

#include "bindings/zrcore/log.h"
#include "engine/dornik.h"
#include "platform/env.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::keepNewFilesPrivate();
  ZR::installCrashGuard("dornik");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int code = dornik::runDornik(*platform::env(), arguments);
  ZR::CLogManager::shutdown();
  return code;
}
