#include <winsock2.h>

#include "platform/listen_socket.h"

namespace ravdel {

// SO_EXCLUSIVEADDRUSE: no other socket, of any user, may bind the port while ours listens.
// Windows lets a new listener bind at once after a stop anyway.
void setListenSocketOptions(NativeSocket socket) {
  const BOOL yes = TRUE;
  ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&yes), sizeof yes);
}

}  // namespace ravdel
