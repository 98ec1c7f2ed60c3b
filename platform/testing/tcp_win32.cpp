#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/testing/tcp.h"

namespace platform {
namespace {

// Winsock must be started once per process before the first socket.
void startWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

SOCKET asSocket(std::intptr_t fd) { return static_cast<SOCKET>(fd); }

bool waitReadable(std::intptr_t fd, int timeoutMs) {
  if (timeoutMs < 0) return true;
  WSAPOLLFD p{asSocket(fd), POLLRDNORM, 0};
  return WSAPoll(&p, 1, timeoutMs) > 0;
}

int chunkOf(size_t n) { return static_cast<int>(std::min<size_t>(n, 1u << 30)); }

void setNoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

// Windows has no SIGPIPE: a write to a closed connection fails by itself.
TcpStream::~TcpStream() {
  if (fd_ >= 0) closesocket(asSocket(fd_));
}

std::unique_ptr<TcpStream> TcpStream::connect(const std::string& host, int port) {
  startWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return nullptr;
  std::unique_ptr<TcpStream> stream;
  for (addrinfo* a = found; a && !stream; a = a->ai_next) {
    SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      setNoDelay(s);
      stream = std::make_unique<TcpStream>(static_cast<std::intptr_t>(s));
    } else {
      closesocket(s);
    }
  }
  freeaddrinfo(found);
  return stream;
}

int64_t TcpStream::read(char* buffer, size_t length, int timeoutMs) {
  if (!waitReadable(fd_, timeoutMs)) return -1;
  int n = recv(asSocket(fd_), buffer, chunkOf(length), 0);
  return n < 0 ? -1 : n;
}

bool TcpStream::writeAll(const char* data, size_t length) {
  while (length > 0) {
    int n = send(asSocket(fd_), data, chunkOf(length), 0);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void TcpStream::shutdownWrite() { shutdown(asSocket(fd_), SD_SEND); }

TcpListener::~TcpListener() {
  if (fd_ >= 0) closesocket(asSocket(fd_));
}

bool TcpListener::listen(const std::string& host, int port) {
  startWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  fd_ = static_cast<std::intptr_t>(s);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return false;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 64) != 0) return false;
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

std::unique_ptr<TcpStream> TcpListener::accept(int timeoutMs) {
  if (fd_ < 0 || !waitReadable(fd_, timeoutMs)) return nullptr;
  SOCKET s = ::accept(asSocket(fd_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return nullptr;
  setNoDelay(s);
  return std::make_unique<TcpStream>(static_cast<std::intptr_t>(s));
}

}  // namespace platform
