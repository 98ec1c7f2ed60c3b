// Plain TCP on the loopback and beyond, for tests and benchmarks that must
// see or make raw bytes on the wire. Not part of the product: only test
// programs link it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// One connection. REQUIRES: external synchronization.
// Sockets are kept as std::intptr_t: an int on POSIX, a SOCKET on Windows.
class TcpStream {
 public:
  explicit TcpStream(std::intptr_t fd) : fd_(fd) {}
  ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // Null when the connection cannot be made.
  static std::unique_ptr<TcpStream> connect(const std::string& host, int port);
  // Bytes read (0 at the end), -1 on failure or after `timeoutMs` (< 0: none).
  int64_t read(char* buffer, size_t length, int timeoutMs = -1);
  bool writeAll(const char* data, size_t length);
  bool writeAll(const std::string& data) { return writeAll(data.data(), data.size()); }
  // Ends our sending direction; the peer reads the end.
  void shutdownWrite();

 private:
  std::intptr_t fd_;
};

class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on host:port (port 0: a free one). False on failure.
  bool listen(const std::string& host, int port = 0);
  int port() const { return port_; }
  // The next connection; null after `timeoutMs` (< 0: none) or on failure.
  std::unique_ptr<TcpStream> accept(int timeoutMs = -1);

 private:
  std::intptr_t fd_ = -1;
  int port_ = 0;
};

}  // namespace platform
