#pragma once

#include <cstdint>
#include <string>

#include "store/store.h"

namespace ravdel::bench {

// A network's year, made up: each station runs in stretches of about a month with an hour's
// pause between them, sends a heartbeat every heartbeatUs (its live time), and sees events at
// random at eventsPerHour; showers strike two to four stations at once. Seeded: the same shape
// gives the same store.
struct NetworkShape {
  int stations = 100;
  int days = 365;
  double eventsPerHour = 7.0;
  double showersPerHour = 0.5;                    // over the whole network
  std::int64_t heartbeatUs = 600LL * 1000000;     // see the README: the figures read hourly counts
  std::int64_t startUs = 1767225600LL * 1000000;  // 2026-01-01T00:00:00Z
  std::uint64_t seed = 1;
};

struct Generated {
  std::int64_t events = 0;
  std::int64_t heartbeats = 0;
};

// Writes the network through the store's own inserts, in batches of a few thousand rows.
Generated generateNetwork(Store& store, const NetworkShape& shape);

std::string stationName(int index);

}  // namespace ravdel::bench
