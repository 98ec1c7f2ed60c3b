#include "tests/service_process.h"

#include <cstdlib>

#include "platform/clock.h"

namespace testsupport {

ServiceProcess::ServiceProcess(std::string program, std::string root)
    : program_(std::move(program)), root_(std::move(root)) {}

ServiceProcess::~ServiceProcess() { kill(); }

bool ServiceProcess::start(const std::vector<std::string>& options) {
  kill();
  std::vector<std::string> argv = {program_, "--root", root_, "--port", std::to_string(port_)};
  argv.insert(argv.end(), options.begin(), options.end());
  // A port just let go of may take a moment to be free again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    child_ = std::make_unique<platform::ChildProcess>();
    if (!child_->start(argv)) return false;
    std::string line;
    uint64_t deadline = platform::tickCountMs() + 20000;
    while (platform::tickCountMs() < deadline && child_->readLine(line, 1000)) {
      size_t colon = line.rfind(':');
      if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos) {
        port_ = std::atoi(line.c_str() + colon + 1);
        return true;
      }
    }
    child_->kill();
    platform::sleepMs(100);
  }
  return false;
}

void ServiceProcess::kill() {
  if (child_) child_->kill();
  child_.reset();
}

}  // namespace testsupport
