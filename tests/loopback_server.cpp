#include "tests/loopback_server.h"

#include <memory>
#include <utility>

namespace testsupport {

LoopbackServer::LoopbackServer(Serve serve) : serve_(std::move(serve)) {
  listener_.listen("127.0.0.1");
  acceptor_ = std::thread([this] { acceptUntilStopped(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  acceptor_.join();
  for (auto& t : connections_) t.join();
}

void LoopbackServer::acceptUntilStopped() {
  for (;;) {
    // A short wait, so that stopping is seen soon.
    auto stream = listener_.accept(100);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    if (stream) {
      std::shared_ptr<platform::TcpStream> shared(std::move(stream));
      connections_.emplace_back([this, shared] { serve_(*shared); });
    }
  }
}

}  // namespace testsupport
