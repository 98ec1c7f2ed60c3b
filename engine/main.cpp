#include <string>
#include <vector>

#include "bindings/zrcore/log.h"
#include "platform/process.h"
#include "engine/dornik.h"

int main(int argc, char** argv) {
  platform::keepNewFilesPrivate();
  ZR::installCrashGuard("dornik");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int code = dornik::runDornik(arguments);
  ZR::CLogManager::shutdown();
  return code;
}
