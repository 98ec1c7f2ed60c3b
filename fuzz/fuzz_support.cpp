#include "fuzz/fuzz_support.h"

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "bindings/zrcore/log.h"
#include "platform/env.h"

namespace fuzzsupport {

const std::string& scratchFolder() {
  // Never destroyed: the exit handler that removes the folder needs it.
  static const std::string* folder = [] {
    std::string base = platform::env()->fileExists("/dev/shm") ? "/dev/shm" : "/tmp";
    auto* path = new std::string(base + "/zr-fuzz-" + std::to_string(getpid()));
    require(platform::env()->createDirectories(*path), "cannot make the scratch folder");
    std::atexit([] { std::filesystem::remove_all(scratchFolder()); });
    return path;
  }();
  return *folder;
}

std::string writeInput(const std::string& name, std::string_view bytes) {
  std::string path = scratchFolder() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  require(file != nullptr, "cannot write the scratch file");
  bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  require(std::fclose(file) == 0 && written, "cannot write the scratch file");
  return path;
}

ZR::CLogger& quietLogger() {
  static ZR::CLogger logger(std::make_shared<spdlog::logger>("fuzz", std::make_shared<spdlog::sinks::null_sink_mt>()),
                            "");
  return logger;
}

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

std::pair<std::string_view, std::string_view> splitAt(std::string_view text, char separator) {
  size_t at = text.find(separator);
  if (at == std::string_view::npos) return {text, {}};
  return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace fuzzsupport
