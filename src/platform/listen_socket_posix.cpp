#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/listen_socket.h"

namespace ravdel {

void setListenSocketOptions(NativeSocket socket) {
  const int yes = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace ravdel
