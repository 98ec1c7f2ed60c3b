// The port a listening socket was given, for servers that ask the system
// for any free port (port 0), and a send that never waits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The local port of the socket (the system's handle as a number); 0 when
// it cannot be read.
int localPortOf(uint64_t socket);

// Sends what the connected socket takes at once, without waiting for room:
// the count of bytes taken, 0 when none could be (no room now, an error, or
// a system where this would wait). The caller sends the rest its own way,
// and meets and reports any error there.
size_t sendWithoutWaiting(uint64_t socket, const char* data, size_t length);

}  // namespace platform
