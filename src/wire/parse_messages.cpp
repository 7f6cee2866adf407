// The server's side of the messages: every field a station sends is checked before it reaches
// the store. Nothing here throws on bad input; every path ends in a row, a rejection or a
// failure with its reason.
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "wire/messages.h"

namespace ravdel {
namespace {

using Json = nlohmann::json;

constexpr std::int64_t kDayUs = 86'400'000'000;
constexpr std::int64_t kHourUs = 3'600'000'000;
constexpr std::int64_t kEarliestUs = 1'577'836'800'000'000;  // 2020-01-01: before any station
// The end of the year 9999: keeps every difference of two times within 64 bits.
constexpr std::int64_t kLatestTimeUs = 253'402'300'799'999'999;
constexpr std::int64_t kMaxCount = std::int64_t{1} << 53;
constexpr std::int64_t kMaxFrameSide = 8192;
constexpr std::size_t kMaxRunIdLength = 64;
constexpr std::size_t kMaxCameraBytes = 256;
constexpr std::size_t kMaxFourccBytes = 8;
constexpr double kMaxLiveSeconds = 1e10;

// Reads the fields of one row; the first fault becomes the row's reason, and what follows it
// reads as a harmless default.
class RowReader {
 public:
  explicit RowReader(const Json& row) : row_(row) {}

  bool ok() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }
  void fail(std::string reason) {
    if (failure_.empty()) failure_ = std::move(reason);
  }

  std::int64_t integer(const char* key, std::int64_t lowest, std::int64_t highest) {
    const Json* value = find(key);
    if (value == nullptr) return lowest;
    if (!value->is_number_integer()) return wrong(key, "is not an integer", lowest);
    if (value->is_number_unsigned() &&
        value->get<std::uint64_t>() > static_cast<std::uint64_t>(highest))
      return wrong(key, "is out of range", lowest);
    const auto number = value->get<std::int64_t>();
    if (number < lowest || number > highest) return wrong(key, "is out of range", lowest);
    return number;
  }
  std::int64_t count(const char* key) { return integer(key, 0, kMaxCount); }
  std::int64_t time(const char* key) { return integer(key, 0, kLatestTimeUs); }

  double real(const char* key, double lowest, double highest) {
    const Json* value = find(key);
    if (value == nullptr) return lowest;
    if (!value->is_number()) return wrong(key, "is not a number", lowest);
    const auto number = value->get<double>();
    if (!std::isfinite(number) || number < lowest || number > highest)
      return wrong(key, "is out of range", lowest);
    return number;
  }

  bool boolean(const char* key) {
    const Json* value = find(key);
    if (value == nullptr) return false;
    if (!value->is_boolean()) return wrong(key, "is not true or false", false);
    return value->get<bool>();
  }

  // Text without control characters (the stores keep no NUL, a log line no line break).
  std::string text(const char* key, std::size_t maxBytes) {
    const Json* value = find(key);
    if (value == nullptr) return {};
    if (!value->is_string()) return wrong(key, "is not text", std::string());
    auto text = value->get<std::string>();
    if (text.size() > maxBytes) return wrong(key, "is too long", std::string());
    for (const char c : text) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
        return wrong(key, "holds a control character", std::string());
    }
    return text;
  }

  std::string runId() {
    std::string id = text("run_id", kMaxRunIdLength);
    const bool hex = !id.empty() && id.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (ok() && !hex) fail("run_id is not 1 to 64 hexadecimal digits");
    return id;
  }

  // Whether the key is there with a value other than null.
  bool has(const char* key) const {
    const auto at = row_.find(key);
    return at != row_.end() && !at->is_null();
  }

 private:
  const Json* find(const char* key) {
    const auto at = row_.find(key);
    if (at == row_.end()) {
      fail(std::string(key) + " is missing");
      return nullptr;
    }
    return &*at;
  }
  template <class T>
  T wrong(const char* key, const char* what, T fallback) {
    fail(std::string(key) + " " + what);
    return fallback;
  }

  const Json& row_;
  std::string failure_;
};

// A PNG whose header says at most 64x64 pixels, in at most 16 KiB. Its pixels are not decoded:
// the server stores the crop, it never draws it.
bool smallPng(const std::vector<std::uint8_t>& png) {
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  static constexpr std::uint8_t kHeaderChunk[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (png.size() > kMaxCropBytes || png.size() < 24) return false;
  if (!std::equal(std::begin(kSignature), std::end(kSignature), png.begin())) return false;
  if (!std::equal(std::begin(kHeaderChunk), std::end(kHeaderChunk), png.begin() + 8)) return false;
  const auto side = [&](std::size_t at) {
    return std::int64_t{png[at]} << 24 | std::int64_t{png[at + 1]} << 16 |
           std::int64_t{png[at + 2]} << 8 | std::int64_t{png[at + 3]};
  };
  const std::int64_t width = side(16), height = side(20);
  return width >= 1 && width <= kMaxCropSide && height >= 1 && height <= kMaxCropSide;
}

void readCrop(RowReader& in, EventRow& e) {
  if (!in.has("crop")) return;
  // Base64 takes four characters for three bytes.
  const std::string text = in.text("crop", (kMaxCropBytes + 2) / 3 * 4);
  if (!in.ok()) return;
  auto png = base64Decode(text);
  if (!png || !smallPng(*png)) {
    in.fail("crop is not a PNG of at most 64x64 pixels in 16 KiB");
    return;
  }
  e.crop = std::move(*png);
}

void readLocation(RowReader& in, EventRow& e) {
  const bool lat = in.has("lat"), lon = in.has("lon");
  if (lat != lon) {
    in.fail("lat and lon come together");
    return;
  }
  if (!lat) return;
  e.lat = in.real("lat", -90, 90);
  e.lon = in.real("lon", -180, 180);
}

void checkEventTimes(RowReader& in, EventRow& e, std::int64_t nowUs) {
  if (!in.ok()) return;
  if (e.tLoUs > e.tUs || e.tUs > e.tHiUs) in.fail("t_us is not within t_lo_us to t_hi_us");
  if (e.tHiUs - e.tLoUs > kHourUs) in.fail("t_lo_us to t_hi_us is longer than an hour");
  if (e.tUs < kEarliestUs || e.tUs > nowUs + kDayUs) e.flags |= kEventTimeFarOff;
}

EventRow readEvent(RowReader& in, std::string_view station, std::int64_t nowUs) {
  EventRow e;
  e.station = station;
  e.runId = in.runId();
  e.seq = in.integer("seq", 1, kMaxCount);
  e.tUs = in.time("t_us");
  e.tLoUs = in.time("t_lo_us");
  e.tHiUs = in.time("t_hi_us");
  e.clockSynced = in.boolean("clock_synced");
  e.width = in.integer("width", 1, kMaxFrameSide);
  e.height = in.integer("height", 1, kMaxFrameSide);
  e.x = in.integer("x", 0, kMaxFrameSide - 1);
  e.y = in.integer("y", 0, kMaxFrameSide - 1);
  if (in.ok() && (e.x >= e.width || e.y >= e.height)) in.fail("x, y is outside the frame");
  e.r = in.integer("r", 0, 255);
  e.g = in.integer("g", 0, 255);
  e.b = in.integer("b", 0, 255);
  e.limit = in.integer("limit", 0, 255);
  e.fourcc = in.text("fourcc", kMaxFourccBytes);
  e.camera = in.text("camera", kMaxCameraBytes);
  e.frame = in.count("frame");
  e.liveSeconds = in.real("live_s", 0, kMaxLiveSeconds);
  readCrop(in, e);
  readLocation(in, e);
  checkEventTimes(in, e, nowUs);
  return e;
}

HeartbeatRow readHeartbeat(RowReader& in, std::string_view station) {
  HeartbeatRow h;
  h.station = station;
  h.runId = in.runId();
  h.hbSeq = in.integer("hb_seq", 1, kMaxCount);
  h.fromUs = in.time("from_us");
  h.toUs = in.time("to_us");
  h.liveMs = in.count("live_ms");
  h.framesDelivered = in.count("frames_delivered");
  h.framesAnalysed = in.count("frames_analysed");
  h.framesDropped = in.count("frames_dropped");
  h.events = in.count("events");
  h.maskedPixels = in.count("masked_pixels");
  h.leakPausedMs = in.count("leak_paused_ms");
  h.clockSynced = in.boolean("clock_synced");
  h.clockErrorUs = in.count("clock_error_us");
  if (in.ok() && h.fromUs > h.toUs) in.fail("from_us is after to_us");
  return h;
}

// The row's key, when it has one that can be sent back.
std::optional<RowKey> keyOf(const Json& row, const char* seqKey) {
  const auto runId = row.find("run_id");
  const auto seq = row.find(seqKey);
  if (runId == row.end() || seq == row.end() || !runId->is_string() || !seq->is_number_integer() ||
      (seq->is_number_unsigned() &&
       seq->get<std::uint64_t>() > std::uint64_t{std::numeric_limits<std::int64_t>::max()}))
    return std::nullopt;
  return RowKey{runId->get<std::string>(), seq->get<std::int64_t>()};
}

// What every message has: size, JSON, version, sender, a list of at most 1000 rows. Nothing
// when it has all that, else the message's failure.
std::optional<std::string> messageFailure(std::string_view station, std::string_view payload,
                                          const Json& message, const char* listKey) {
  if (!validStationName(station)) return "the topic names no valid station";
  if (payload.size() > kMaxMessageBytes) return "larger than 1 MiB";
  if (message.is_discarded()) return "not JSON";
  if (!message.is_object()) return "not a JSON object";
  const auto version = message.find("v");
  if (version == message.end() || !version->is_number_integer()) return "no schema version";
  if (*version != kWireVersion) return "an unknown schema version";
  const auto sender = message.find("station");
  if (sender == message.end() || !sender->is_string() || *sender != station)
    return "the station is not the topic's";
  const auto list = message.find(listKey);
  if (list == message.end() || !list->is_array()) return std::string("no list of ") + listKey;
  if (list->size() > kMaxRowsPerMessage) return "more than 1000 rows";
  return std::nullopt;
}

template <class Row, class ReadRow>
Received<Row> parseBatch(std::string_view station, std::string_view payload, const char* listKey,
                         const char* kind, const char* seqKey, const ReadRow& readRow) {
  Received<Row> out;
  // Not parsed at all when too large: the size is the first defence.
  const Json message =
      payload.size() > kMaxMessageBytes ? Json(nullptr) : Json::parse(payload, nullptr, false);
  if (auto failure = messageFailure(station, payload, message, listKey)) {
    out.failure = std::move(*failure);
    return out;
  }
  for (const Json& item : message[listKey]) {
    if (!item.is_object()) {
      out.unnamed.push_back("a row is not a JSON object");
      continue;
    }
    RowReader in(item);
    Row row = readRow(in);
    if (in.ok()) {
      out.rows.push_back(std::move(row));
    } else if (auto key = keyOf(item, seqKey)) {
      out.rejected.push_back({kind, std::move(*key), in.failure()});
    } else {
      out.unnamed.push_back(in.failure());
    }
  }
  return out;
}

}  // namespace

ReceivedEvents parseEvents(std::string_view station, std::string_view payload, std::int64_t nowUs) {
  return parseBatch<EventRow>(station, payload, "events", "event", "seq",
                              [&](RowReader& in) { return readEvent(in, station, nowUs); });
}

ReceivedHeartbeats parseHeartbeats(std::string_view station, std::string_view payload,
                                   std::int64_t /*nowUs*/) {
  return parseBatch<HeartbeatRow>(station, payload, "heartbeats", "heartbeat", "hb_seq",
                                  [&](RowReader& in) { return readHeartbeat(in, station); });
}

bool validStationName(std::string_view name) {
  constexpr std::string_view kAllowed =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-";
  return !name.empty() && name.size() <= 64 && name.find_first_not_of(kAllowed) == name.npos;
}

std::optional<StationTopic> splitStationTopic(std::string_view topic) {
  if (topic.substr(0, kTopicRoot.size()) != kTopicRoot) return std::nullopt;
  topic.remove_prefix(kTopicRoot.size());
  const auto slash = topic.find('/');
  if (slash == topic.npos) return std::nullopt;
  StationTopic parts{std::string(topic.substr(0, slash)), std::string(topic.substr(slash + 1))};
  if (!validStationName(parts.station) || parts.leaf.empty() ||
      parts.leaf.find('/') != std::string::npos)
    return std::nullopt;
  return parts;
}

}  // namespace ravdel
