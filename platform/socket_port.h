// The port a listening socket was given, for servers that ask the system
// for any free port (port 0).
#pragma once

#include <cstdint>

namespace platform {

// The local port of the socket (the system's handle as a number); 0 when
// it cannot be read.
int localPortOf(uint64_t socket);

}  // namespace platform
