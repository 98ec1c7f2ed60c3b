// The listening half of a raw test peer: accepts connections on the
// loopback in the background and serves each on its own thread until it is
// destroyed, which waits for every connection's thread.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/testing/tcp.h"

namespace testsupport {

class LoopbackServer {
 public:
  using Serve = std::function<void(platform::TcpStream&)>;
  explicit LoopbackServer(Serve serve);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return listener_.port(); }

 private:
  void acceptUntilStopped();

  Serve serve_;
  platform::TcpListener listener_;
  std::mutex mutex_;
  bool stopping_ = false;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace testsupport
