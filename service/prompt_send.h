// A send that skips the toolkit's wait for room when the socket has it.
// The toolkit asks the system whether a socket can take bytes before every
// send, one more system call per message, though a connection's buffer
// almost always has room for an answer or a small request.
#pragma once

#include <cstddef>

struct soap;

namespace velkan {

using ToolkitSend = int (*)(struct soap*, const char*, size_t);

// What the plain socket takes at once goes at once; the rest, and every
// error, go through `toolkitSend` (its time-out, its error report). TLS
// and stream sessions always go through it.
int sendPromptly(struct soap* soap, ToolkitSend toolkitSend, const char* data, size_t length);

}  // namespace velkan
