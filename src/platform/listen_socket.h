#pragma once

#include <cstdint>

namespace ravdel {

// A socket as the system names it: a descriptor on Linux, a SOCKET handle on Windows.
#ifdef _WIN32
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif

// The options of a listening socket of our own servers (the page of the figures): its port can
// be bound again at once after a stop, through the old connections' TIME_WAIT, but is never
// shared with another listener while in use (no SO_REUSEPORT, which the HTTP library would
// set, letting two servers split one port's connections). On Windows no other program may
// bind the port beside ours.
void setListenSocketOptions(NativeSocket socket);

}  // namespace ravdel
