#include "tests/forwarding_proxy.h"

#include <cstdlib>
#include <thread>

namespace testsupport {

ForwardingProxy::ForwardingProxy() : server_([this](platform::TcpStream& client) { serve(client); }) {}

std::vector<std::string> ForwardingProxy::authorizations() {
  std::lock_guard<std::mutex> lock(mutex_);
  return authorizations_;
}

std::vector<std::string> ForwardingProxy::requestLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestLines_;
}

void ForwardingProxy::serve(platform::TcpStream& client) {
  std::string head;
  char buffer[65536];
  while (head.find("\r\n\r\n") == std::string::npos) {
    int64_t n = client.read(buffer, sizeof buffer, 10000);
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
  }
  std::string line = head.substr(0, head.find("\r\n"));
  size_t auth = head.find("\r\nProxy-Authorization: ");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requestLines_.push_back(line);
    authorizations_.push_back(auth == std::string::npos ? "" : head.substr(auth + 23, head.find("\r\n", auth + 2) - auth - 23));
  }
  // "POST http://host:port/path HTTP/1.1"
  size_t hostStart = line.find("://") + 3;
  size_t hostEnd = line.find('/', hostStart);
  std::string hostPort = line.substr(hostStart, hostEnd - hostStart);
  size_t colon = hostPort.rfind(':');
  auto server = platform::TcpStream::connect(hostPort.substr(0, colon), std::atoi(hostPort.substr(colon + 1).c_str()));
  if (!server || !server->writeAll(head)) return;
  std::thread back([&] {
    char b[65536];
    for (int64_t n; (n = server->read(b, sizeof b, 20000)) > 0;) {
      if (!client.writeAll(b, static_cast<size_t>(n))) break;
    }
    client.shutdownWrite();
  });
  for (int64_t n; (n = client.read(buffer, sizeof buffer, 20000)) > 0;) {
    if (!server->writeAll(buffer, static_cast<size_t>(n))) break;
  }
  server->shutdownWrite();
  back.join();
}

}  // namespace testsupport
