// `cacheagent status`: the status page and the status files of the work
// folder served over HTTP on loopback, so that nothing has to be copied
// beside the status folder and the page works in any browser. The page and
// its stylesheet are carried in the program; only names of the form
// status/cs_*.xml are read from the disk.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/agent_config.h"
#include "platform/status.h"

struct soap;

namespace agent {

class StatusServer {
 public:
  explicit StatusServer(std::string statusFolder);
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Listens on 127.0.0.1:port (0: any free port).
  platform::Status start(int port);
  int port() const { return port_; }
  // Answers requests one at a time until `stop` says so (asked at least
  // every half second).
  void serve(const std::function<bool()>& stop);

  // The answer to a GET of `path`: its content type and body, or false
  // when there is nothing there (tests call it without a socket).
  bool answer(const std::string& path, std::string& type, std::string& body) const;

 private:
  std::string statusFolder_;
  struct soap* soap_;
  int port_ = 0;
};

// Serves until Ctrl-C; returns the exit code.
int runStatusServer(const AgentConfig& config, int port);

}  // namespace agent
