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

std::string base64Encode(std::span<const std::uint8_t> bytes);
// Nothing when `text` is not base64.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace ravdel
