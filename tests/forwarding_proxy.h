// A minimal HTTP proxy for tests: it takes requests with an absolute URI,
// remembers their request line and Proxy-Authorization header, and passes
// the bytes on to the named host and back.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tests/loopback_server.h"

namespace testsupport {

class ForwardingProxy {
 public:
  ForwardingProxy();
  int port() const { return server_.port(); }
  std::vector<std::string> authorizations();
  std::vector<std::string> requestLines();

 private:
  void serve(platform::TcpStream& client);

  std::mutex mutex_;
  std::vector<std::string> authorizations_;
  std::vector<std::string> requestLines_;
  // Last: stopped before what its connections record into goes away.
  LoopbackServer server_;
};

}  // namespace testsupport
