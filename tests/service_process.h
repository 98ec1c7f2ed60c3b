// cachemanager-local run as its own process on a store that outlives it:
// a test can kill it outright at any moment and start it again on the same
// port and store, as a crash or a restart of the real service would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"

namespace testsupport {

class ServiceProcess {
 public:
  // `program`: the built cachemanager-local; `root`: its store.
  ServiceProcess(std::string program, std::string root);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts it (on the port of the last start, if any) with further
  // options; false when it did not say it listens within 20 s.
  bool start(const std::vector<std::string>& options = {});
  // Ends it outright, as a crash would.
  void kill();
  bool running() const { return child_ && child_->running(); }
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& root() const { return root_; }

 private:
  std::string program_;
  std::string root_;
  int port_ = 0;
  std::unique_ptr<platform::ChildProcess> child_;
};

}  // namespace testsupport
