#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/socket_port.h"

namespace platform {

int localPortOf(uint64_t socket) {
  struct sockaddr_in address {};
  socklen_t length = sizeof address;
  if (::getsockname(static_cast<int>(socket), reinterpret_cast<struct sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

size_t sendWithoutWaiting(uint64_t socket, const char* data, size_t length) {
  ssize_t sent = ::send(static_cast<int>(socket), data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
  return sent > 0 ? static_cast<size_t>(sent) : 0;
}

}  // namespace platform
