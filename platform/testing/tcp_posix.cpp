#include "platform/testing/tcp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

bool waitReadable(int fd, int timeoutMs) {
  if (timeoutMs < 0) return true;
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

TcpStream::~TcpStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<TcpStream> TcpStream::connect(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return nullptr;
  std::unique_ptr<TcpStream> stream;
  for (addrinfo* a = found; a && !stream; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      stream = std::make_unique<TcpStream>(fd);
    } else {
      ::close(fd);
    }
  }
  ::freeaddrinfo(found);
  return stream;
}

int64_t TcpStream::read(char* buffer, size_t length, int timeoutMs) {
  if (!waitReadable(fd_, timeoutMs)) return -1;
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, length, 0);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

bool TcpStream::writeAll(const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void TcpStream::shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

TcpListener::~TcpListener() {
  if (fd_ >= 0) ::close(fd_);
}

bool TcpListener::listen(const std::string& host, int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return false;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 64) != 0) return false;
  socklen_t length = sizeof address;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

std::unique_ptr<TcpStream> TcpListener::accept(int timeoutMs) {
  if (fd_ < 0 || !waitReadable(fd_, timeoutMs)) return nullptr;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return nullptr;
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return std::make_unique<TcpStream>(fd);
}

}  // namespace platform
