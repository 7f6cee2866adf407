#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"

namespace ravdel {

// The messages between a station and the network's ingesters, carried by the broker.
// Topics: ravdel/<station>/events, .../heartbeats (station to server), .../ack (server to
// station), .../status (the station's "online", its last will "offline").
inline constexpr int kWireVersion = 1;
inline constexpr std::string_view kTopicRoot = "ravdel/";

std::string stationTopic(std::string_view station, std::string_view leaf);

// "host", "host:port" or "[::1]:port": the broker's address; the port defaults to 1883, or to
// 8883 with TLS. False when it is none of them.
bool parseBrokerAddress(std::string_view text, bool tls, std::string& host, int& port);

// The station's side: a batch of rows as one message (crops travel as base64 PNG).
std::string encodeEvents(std::string_view station, std::span<const EventRow> events);
std::string encodeHeartbeats(std::string_view station, std::span<const HeartbeatRow> heartbeats);

// A row the server will not store, and why; acknowledged so that the station stops sending it.
struct Rejection {
  std::string kind;  // "event" or "heartbeat"
  RowKey key;
  std::string reason;
};

// What the server has stored, after its commit (rows it had already are stored too).
struct Ack {
  std::vector<RowKey> events;
  std::vector<RowKey> heartbeats;
  std::vector<Rejection> rejected;
};

std::string encodeAck(const Ack& ack);
// The station's reading of an acknowledgement; nothing when the message is not one.
std::optional<Ack> parseAck(std::string_view payload);

// The server's reading of a station's batch. A message that cannot be read at all has a
// `failure`: it is counted, logged once per reason and not acknowledged. Otherwise each row is
// accepted (its station set, a time far off flagged) or rejected with its reason, and the
// rejection acknowledged, so that the station stops sending it. A row too broken to be named by
// its key cannot be acknowledged either: its reason goes to `unnamed`. Reasons are fixed texts,
// never the values at fault, so that a log can say each one once.
template <class Row>
struct Received {
  std::string failure;
  std::vector<Row> rows;
  std::vector<Rejection> rejected;
  std::vector<std::string> unnamed;
  bool ok() const { return failure.empty(); }
};
using ReceivedEvents = Received<EventRow>;
using ReceivedHeartbeats = Received<HeartbeatRow>;

inline constexpr std::size_t kMaxMessageBytes = 1 << 20;
inline constexpr std::size_t kMaxRowsPerMessage = 1000;
inline constexpr std::size_t kMaxCropBytes = 16 * 1024;
inline constexpr std::int64_t kMaxCropSide = 64;

// `station` is the one the topic names (the broker lets only that account write there); the
// message must say the same. `nowUs` is the server's clock, for times far off.
ReceivedEvents parseEvents(std::string_view station, std::string_view payload, std::int64_t nowUs);
ReceivedHeartbeats parseHeartbeats(std::string_view station, std::string_view payload,
                                   std::int64_t nowUs);

// 1..64 characters of A-Z, a-z, 0-9, '.', '_' and '-': no topic wildcard, no separator.
bool validStationName(std::string_view name);

// ravdel/<station>/<leaf> taken apart; nothing for any other topic.
struct StationTopic {
  std::string station;
  std::string leaf;
};
std::optional<StationTopic> splitStationTopic(std::string_view topic);

std::string base64Encode(std::span<const std::uint8_t> bytes);
// Nothing when `text` is not base64.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace ravdel
