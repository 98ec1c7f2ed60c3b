// `cacheagent status`: the status page and the status files of the work
// folder served over HTTP on loopback, so that nothing has to be copied
// beside the status folder and the page works in any browser. The page and
// its stylesheet are carried in the program; only names of the form
// status/cs_*.xml are read from the disk.
//
// It is for its own user only: a request with an Origin (a web page of any
// site) or with a Host other than 127.0.0.1 or localhost on its own port
// (a site's name pointed at this machine) is refused, and no
// Access-Control-* header is sent. Several clients are served at once
// (at most 16), each request must arrive whole within 2 s, so a slow or
// idle client delays no other, and a client that goes away before its
// answer ends only its own connection.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <string>

#include "agent/agent_config.h"
#include "platform/status.h"
#include "service/http_guard.h"

struct soap;

namespace agent {

class StatusServer {
 public:
  StatusServer(platform::Env& env, std::string statusFolder);
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Listens on 127.0.0.1:port (0: any free port).
  platform::Status start(int port);
  int port() const { return port_; }
  // Answers requests until `stop` says so (asked at least every second),
  // then waits for the connections under way.
  void serve(const std::function<bool()>& stop);

  // The answer to a GET of `path`: its content type and body, or false
  // when there is nothing there (tests call it without a socket).
  bool answer(const std::string& path, std::string& type, std::string& body) const;

 private:
  void serveConnection(struct soap* connection);

  platform::Env& env_;
  std::string statusFolder_;
  struct soap* soap_;
  int port_ = 0;
  velkan::HttpGuard guard_;
  std::mutex mutex_;
  std::condition_variable connectionEnded_;
  int active_ = 0;
};

// Serves until Ctrl-C; returns the exit code.
int runStatusServer(const AgentConfig& config, int port);

}  // namespace agent
