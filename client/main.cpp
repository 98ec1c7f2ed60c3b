#include <string>
#include <vector>

#include "bindings/zrcore/log.h"
#include "platform/process.h"
#include "client/velkan_entry.h"

int main(int argc, char** argv) {
  platform::keepNewFilesPrivate();
  ZR::installCrashGuard("velkan");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int code = velkan::runVelkan(arguments);
  ZR::CLogManager::shutdown();
  return code;
}
