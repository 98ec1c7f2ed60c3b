#include <cstdio>

#include "localservice/local_service.h"
#include "platform/env.h"
#include "platform/process.h"

namespace {

const char* const kUsage =
    "usage: cachemanager-local --root DIR [--port N] [--host ADDRESS] [--tls-cert PEM --tls-key PEM]\n"
    "                          [--agents FILE] [--quota BYTES] [--keep-days N] [--keep-versions N]\n"
    "                          [--session-seconds N] [--timeout SECONDS]\n"
    "                          [--max-connections N] [--allow-origin ORIGIN]... [--allow-host NAME]...\n"
    "                          [--fault-answer OPERATION=CODE[:COUNT]]... [--fault-drop-after BYTES]\n"
    "                          [--fault-slow-read BYTES_PER_SECOND]\n"
    "                          [--fault-latency MS] [--fault-listed-size BYTES] [--fault-answer-bytes BYTES]\n";

}  // namespace

int main(int argc, char** argv) {
  platform::keepNewFilesPrivate();
  std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::printf("%s\nA cache manager service on loopback (unless --host says otherwise), storing under DIR,\n"
                "on port %d unless --port says otherwise (the port examples/backup.xml names; --port 0\n"
                "takes any free one). It prints \"listening on HOST:PORT\" first; see the README for\n"
                "the faults it injects.\n",
                kUsage, localservice::kDefaultPort);
    return 0;
  }
  if (first == "--version") {
    std::printf("cachemanager-local 1.0.0\n");
    return 0;
  }
  localservice::ServiceConfig config;
  std::string error;
  if (!localservice::parseArguments(argc, argv, config, error)) {
    std::fprintf(stderr, "cachemanager-local: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  localservice::LocalService service(*platform::env(), config);
  if (!service.start(error)) {
    std::fprintf(stderr, "cachemanager-local: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening on %s:%d\n", config.host.c_str(), service.port());
  std::fflush(stdout);
  service.run();
  return 0;
}
