#pragma once

namespace ravdel {

// The options of a listening socket of our own servers (the page of the figures): its port can
// be bound again at once after a stop, through the old connections' TIME_WAIT, but is never
// shared with another listener while in use (no SO_REUSEPORT, which the HTTP library would
// set, letting two servers split one port's connections). Linux only for now.
void setListenSocketOptions(int socket);

}  // namespace ravdel
