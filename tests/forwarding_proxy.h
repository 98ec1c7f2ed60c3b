// A minimal HTTP proxy for tests: it takes requests with an absolute URI,
// remembers their request line and Proxy-Authorization header, and passes
// the bytes on to the named host and back.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/tcp.h"

namespace testsupport {

class ForwardingProxy {
 public:
  ForwardingProxy();
  ~ForwardingProxy();
  int port() const { return listener_.port(); }
  std::vector<std::string> authorizations();
  std::vector<std::string> requestLines();

 private:
  void serve(platform::TcpStream& client);

  platform::TcpListener listener_;
  std::mutex mutex_;
  std::vector<std::string> authorizations_;
  std::vector<std::string> requestLines_;
  bool stopping_ = false;
  std::thread acceptor_;
  std::vector<std::thread> connections_;
};

}  // namespace testsupport
