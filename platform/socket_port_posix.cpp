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

}  // namespace platform
