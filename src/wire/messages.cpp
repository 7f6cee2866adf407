#include "wire/messages.h"

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>

#include "wire/row_json.h"

namespace ravdel {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

Json eventJson(const EventRow& e) {
  Json j = {{"run_id", e.runId},  {"seq", e.seq},       {"t_us", e.tUs},
            {"t_lo_us", e.tLoUs}, {"t_hi_us", e.tHiUs}, {"clock_synced", e.clockSynced},
            {"x", e.x},           {"y", e.y},           {"r", e.r},
            {"g", e.g},           {"b", e.b},           {"limit", e.limit},
            {"width", e.width},   {"height", e.height}, {"fourcc", e.fourcc},
            {"camera", e.camera}, {"frame", e.frame},   {"live_s", e.liveSeconds}};
  if (!e.crop.empty()) j["crop"] = base64Encode(e.crop);
  if (e.lat && e.lon) {
    j["lat"] = *e.lat;
    j["lon"] = *e.lon;
  }
  return j;
}

Json keysJson(std::span<const RowKey> keys) {
  Json list = Json::array();
  for (const RowKey& key : keys)
    list.push_back(Json::array({key.runId, key.seq}));
  return list;
}

// Strings with bytes that are not UTF-8 cannot go into JSON as they are: replaced, not thrown.
std::string dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool readKeys(const Json& list, std::vector<RowKey>& keys) {
  if (!list.is_array()) return false;
  for (const Json& item : list) {
    if (!item.is_array() || item.size() != 2 || !item[0].is_string() ||
        !item[1].is_number_integer())
      return false;
    keys.push_back({item[0].get<std::string>(), item[1].get<std::int64_t>()});
  }
  return true;
}

// Whether `j` is an object of this wire version. Nothing but an integer is read as one: a
// number too large for it, or a string, is no version (and converting it would not be safe).
bool ofThisVersion(const Json& j) {
  if (!j.is_object()) return false;
  const auto version = j.find("v");
  return version != j.end() && version->is_number_integer() &&
         version->get<std::int64_t>() == kWireVersion;
}

}  // namespace

Json heartbeatJson(const HeartbeatRow& h) {
  return {{"run_id", h.runId},
          {"hb_seq", h.hbSeq},
          {"from_us", h.fromUs},
          {"to_us", h.toUs},
          {"live_ms", h.liveMs},
          {"frames_delivered", h.framesDelivered},
          {"frames_analysed", h.framesAnalysed},
          {"frames_dropped", h.framesDropped},
          {"events", h.events},
          {"masked_pixels", h.maskedPixels},
          {"leak_paused_ms", h.leakPausedMs},
          {"clock_synced", h.clockSynced},
          {"clock_error_us", h.clockErrorUs}};
}

bool parseBrokerAddress(std::string_view text, bool tls, std::string& host, int& port) {
  port = tls ? 8883 : 1883;
  std::string_view rest = text;
  if (rest.starts_with('[')) {  // [IPv6]:port
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (rest.empty()) return !host.empty();
    if (!rest.starts_with(':')) return false;
    rest.remove_prefix(1);
  } else {
    const std::size_t colon = rest.rfind(':');
    host = std::string(rest.substr(0, colon));
    if (colon == std::string_view::npos) return !host.empty();
    rest.remove_prefix(colon + 1);
  }
  int value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end != rest.data() + rest.size() || value < 1 || value > 65535)
    return false;
  port = value;
  return !host.empty();
}

std::string stationTopic(std::string_view station, std::string_view leaf) {
  return std::string(kTopicRoot) + std::string(station) + "/" + std::string(leaf);
}

std::string encodeEvents(std::string_view station, std::span<const EventRow> events) {
  Json list = Json::array();
  for (const EventRow& e : events)
    list.push_back(eventJson(e));
  return dump({{"v", kWireVersion}, {"station", station}, {"events", std::move(list)}});
}

std::string encodeHeartbeats(std::string_view station, std::span<const HeartbeatRow> heartbeats) {
  Json list = Json::array();
  for (const HeartbeatRow& h : heartbeats)
    list.push_back(heartbeatJson(h));
  return dump({{"v", kWireVersion}, {"station", station}, {"heartbeats", std::move(list)}});
}

std::string encodeAck(const Ack& ack) {
  Json rejected = Json::array();
  for (const Rejection& r : ack.rejected) {
    rejected.push_back(
        {{"kind", r.kind}, {"run_id", r.key.runId}, {"seq", r.key.seq}, {"reason", r.reason}});
  }
  return dump({{"v", kWireVersion},
               {"events", keysJson(ack.events)},
               {"heartbeats", keysJson(ack.heartbeats)},
               {"rejected", std::move(rejected)}});
}

std::optional<Ack> parseAck(std::string_view payload) {
  const Json j = Json::parse(payload, nullptr, false);
  if (!ofThisVersion(j)) return std::nullopt;
  Ack ack;
  if (j.contains("events") && !readKeys(j["events"], ack.events)) return std::nullopt;
  if (j.contains("heartbeats") && !readKeys(j["heartbeats"], ack.heartbeats)) return std::nullopt;
  if (j.contains("rejected")) {
    const Json& rejected = j["rejected"];
    if (!rejected.is_array()) return std::nullopt;
    for (const Json& r : rejected) {
      if (!r.is_object() || !r.value("kind", Json()).is_string() ||
          !r.value("run_id", Json()).is_string() || !r.value("seq", Json()).is_number_integer() ||
          !r.value("reason", Json("")).is_string())
        return std::nullopt;
      ack.rejected.push_back({r["kind"].get<std::string>(),
                              {r["run_id"].get<std::string>(), r["seq"].get<std::int64_t>()},
                              r.value("reason", Json("")).get<std::string>()});
    }
  }
  return ack;
}

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    const std::uint32_t triple = std::uint32_t{bytes[i]} << 16 |
                                 (left > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                 (left > 2 ? bytes[i + 2] : 0u);
    out += kBase64[triple >> 18 & 63];
    out += kBase64[triple >> 12 & 63];
    out += left > 1 ? kBase64[triple >> 6 & 63] : '=';
    out += left > 2 ? kBase64[triple & 63] : '=';
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::array<int, 256> value{};
  value.fill(-1);
  for (std::size_t i = 0; i < kBase64.size(); ++i)
    value[static_cast<unsigned char>(kBase64[i])] = static_cast<int>(i);
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t triple = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const bool last = i + 4 == text.size();
      if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
        ++padding;
        triple <<= 6;
        continue;
      }
      const int v = value[static_cast<unsigned char>(c)];
      if (v < 0 || padding > 0) return std::nullopt;
      triple = triple << 6 | static_cast<std::uint32_t>(v);
    }
    out.push_back(static_cast<std::uint8_t>(triple >> 16));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>(triple >> 8 & 0xff));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(triple & 0xff));
  }
  return out;
}

}  // namespace ravdel
