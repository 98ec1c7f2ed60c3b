#include <winsock2.h>

#include "platform/socket_port.h"

namespace platform {

int localPortOf(uint64_t socket) {
  struct sockaddr_in address {};
  int length = sizeof address;
  if (getsockname(static_cast<SOCKET>(socket), reinterpret_cast<struct sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// A Windows socket is blocking unless switched: the toolkit's own send does it all.
size_t sendWithoutWaiting(uint64_t, const char*, size_t) { return 0; }

}  // namespace platform
