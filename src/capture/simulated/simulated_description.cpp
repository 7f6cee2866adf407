#include "capture/simulated/simulated_description.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <set>
#include <string_view>

#include "capture/capture_device.h"
#include "convert/frame_converter.h"

namespace ravdel {
namespace {

constexpr double kMinFps = 0.01;  // one frame in 100 s
constexpr double kMaxFps = 1000.0;
constexpr double kMaxHitsPerSecond = 100000.0;
constexpr std::int32_t kMaxSide = 8192;  // beyond any webcam; a sample's count fits 32 bits
constexpr std::uint8_t kMaxNoise = 64;
constexpr std::uint64_t kMaxBackAfterMs = 3600000;  // an hour
constexpr std::uint64_t kMaxDefectPixels = 100000;
constexpr double kMaxLeakSeconds = 1.0e6;
constexpr double kMaxShowersPerSecond = 100.0;
constexpr const char* kKnownFormats =
    "RGB, I420, IYUV, YV12, NV12, NV21, YUY2, YUNV, YUYV, UYVY, GREY, MJPG";
constexpr const char* kSyntheticFormats =
    "RGB, I420, IYUV, YV12, NV12, NV21, YUY2, YUNV, YUYV, UYVY, GREY";

std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool parseUnsigned(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseDecimal(std::string_view text, double& value) {
  if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool parseSize(std::string_view text, std::int32_t& width, std::int32_t& height) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return false;
  std::uint64_t w = 0;
  std::uint64_t h = 0;
  if (!parseUnsigned(text.substr(0, x), w) || !parseUnsigned(text.substr(x + 1), h)) return false;
  if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) return false;
  width = static_cast<std::int32_t>(w);
  height = static_cast<std::int32_t>(h);
  return true;
}

// A format name: one of the converter's formats (any letter case), or, for sample files, any
// other four characters as written, so the program's notice for unknown formats can be seen.
bool parseFormat(std::string_view text, bool synthetic, std::uint32_t& code, std::string& error) {
  const std::string name = upper(text);
  std::uint32_t parsed = 0;
  const bool known = parseFourCC(name, parsed) && requiredSampleBytes(parsed, 2, 2) != -2;
  if (known && synthetic && parsed == fourcc::kMjpg) {
    error = "MJPG frames come only from sample files (dir:)";
    return false;
  }
  if (known) {
    code = parsed;
    return true;
  }
  if (!synthetic && text.size() == 4) {
    code = makeFourCC(text[0], text[1], text[2], text[3]);
    return true;
  }
  error = "'" + std::string(text) + "' is not a format (" +
          (synthetic ? kSyntheticFormats : kKnownFormats) + ")";
  return false;
}

class Parser {
 public:
  explicit Parser(SimulatedDescription& d) : d_(d) {}

  bool option(std::string_view item, std::string& error) {
    const std::size_t eq = item.find('=');
    const std::string key(trim(item.substr(0, eq)));
    const bool hasValue = eq != std::string_view::npos;
    const std::string_view value = hasValue ? trim(item.substr(eq + 1)) : std::string_view();
    if (key.empty()) {
      error = "empty option (two commas in a row?)";
      return false;
    }
    std::string problem;
    if (!apply(key, hasValue, value, problem)) {
      error = key + ": " + problem;
      return false;
    }
    return true;
  }

 private:
  bool synthetic() const { return d_.source == SimulatedDescription::Source::Synthetic; }

  // Flags share a key with the valued option they stand for, so "fps=5,unlimited" is a repeat.
  static std::string canonicalKey(const std::string& key) {
    if (key == "unlimited") return "fps";
    if (key == "loop") return "once";
    return key;
  }

  bool apply(const std::string& key, bool hasValue, std::string_view value, std::string& problem) {
    static const std::set<std::string> kSyntheticOnly = {
        "hits",       "brightness", "noise",       "seed",        "uncovered",
        "hot",        "warm",       "warm-share",  "noisy-row",   "noisy-column",
        "line-noise", "leak",       "leak-level",  "tracks",      "long-tracks",
        "truth",      "showers",    "shower-seed", "shower-share"};
    static const std::set<std::string> kDirectoryOnly = {"once", "loop"};
    static const std::set<std::string> kFlags = {"unlimited", "once", "loop", "uncovered"};
    static const std::set<std::string> kValued = {
        "format",      "size",        "fps",        "name",        "also",         "unplug-after",
        "back-after",  "empty-every", "hits",       "seed",        "brightness",   "noise",
        "hot",         "warm",        "warm-share", "noisy-row",   "noisy-column", "line-noise",
        "leak",        "leak-level",  "tracks",     "long-tracks", "truth",        "showers",
        "shower-seed", "shower-share"};
    const bool flag = kFlags.count(key) != 0;
    if (!flag && kValued.count(key) == 0) {
      problem = "unknown option";
      return false;
    }
    if (flag && hasValue) {
      problem = "takes no value";
      return false;
    }
    if (!flag && (!hasValue || value.empty())) {
      problem = "needs a value (" + key + "=...)";
      return false;
    }
    if (!synthetic() && kSyntheticOnly.count(key) != 0) {
      problem = "only for synthetic frames";
      return false;
    }
    if (synthetic() && kDirectoryOnly.count(key) != 0) {
      problem = "only for a directory of samples (dir:)";
      return false;
    }
    const std::string canonical = canonicalKey(key);
    if (key != "also" && !seen_.insert(canonical).second) {
      problem = canonical == key ? "given twice" : "repeats " + canonical;
      return false;
    }
    return flag ? applyFlag(key) : applyValue(key, value, problem);
  }

  bool applyFlag(const std::string& key) {
    if (key == "unlimited") d_.fps = 0.0;
    if (key == "once") d_.once = true;
    if (key == "loop") d_.once = false;
    if (key == "uncovered") d_.uncovered = true;
    return true;
  }

  bool applyValue(const std::string& key, std::string_view value, std::string& problem) {
    const std::string quoted = "'" + std::string(value) + "'";
    std::uint64_t number = 0;
    if (key == "format") {
      d_.formatGiven = true;
      return parseFormat(value, synthetic(), d_.format.fourcc, problem);
    }
    if (key == "size") {
      d_.sizeGiven = true;
      if (parseSize(value, d_.format.width, d_.format.height)) return true;
      problem = quoted + " is not WIDTHxHEIGHT (1 to 8192 each)";
      return false;
    }
    if (key == "fps") {
      if (value == "unlimited") {
        d_.fps = 0.0;
        return true;
      }
      if (parseDecimal(value, d_.fps) && (d_.fps == 0.0 || d_.fps >= kMinFps) && d_.fps <= kMaxFps)
        return true;
      problem = quoted + " is not a frame rate (0.01 to 1000; 0 or unlimited: unpaced)";
      return false;
    }
    if (key == "name") {
      d_.name = std::string(value);
      return true;
    }
    if (key == "also") return applyAlso(value, problem);
    if (key == "unplug-after" || key == "empty-every") {
      if (!parseUnsigned(value, number) || number == 0) {
        problem = quoted + " is not a frame count (1 or more)";
        return false;
      }
      (key == "unplug-after" ? d_.unplugAfter : d_.emptyEvery) = number;
      return true;
    }
    if (key == "back-after") {
      if (!parseUnsigned(value, number) || number == 0 || number > kMaxBackAfterMs) {
        problem = quoted + " is not a time in milliseconds (1 to 3600000)";
        return false;
      }
      d_.backAfter = std::chrono::milliseconds(number);
      return true;
    }
    if (key == "hits") {
      if (parseDecimal(value, d_.hitsPerSecond) && d_.hitsPerSecond <= kMaxHitsPerSecond)
        return true;
      problem = quoted + " is not a mean number of hits per second (0 to 100000)";
      return false;
    }
    if (key == "seed") {
      if (parseUnsigned(value, d_.seed)) return true;
      problem = quoted + " is not a whole number";
      return false;
    }
    if (key == "truth") {
      d_.truthPath = std::string(value);
      return true;
    }
    if (const std::optional<bool> shower = applyShowers(key, value, problem)) return *shower;
    if (const std::optional<bool> sensor = applySensor(key, value, problem)) return *sensor;
    // brightness, noise: one byte each
    const std::uint64_t lowest = key == "brightness" ? 1 : 0;
    const std::uint64_t highest = key == "brightness" ? 255 : kMaxNoise;
    if (!parseUnsigned(value, number) || number < lowest || number > highest) {
      problem = quoted + " is not " + std::to_string(lowest) + " to " + std::to_string(highest);
      return false;
    }
    (key == "brightness" ? d_.brightness : d_.noise) = static_cast<std::uint8_t>(number);
    return true;
  }

  // The shower options; nothing when `key` is none of them.
  std::optional<bool> applyShowers(const std::string& key, std::string_view value,
                                   std::string& problem) {
    ShowerModel& s = d_.showers;
    const std::string quoted = "'" + std::string(value) + "'";
    if (key == "showers") {
      if (parseDecimal(value, s.perSecond) && s.perSecond <= kMaxShowersPerSecond) return true;
      problem = quoted + " is not a mean number of showers per second (0 to 100)";
      return false;
    }
    if (key == "shower-seed") {
      if (parseUnsigned(value, s.seed)) return true;
      problem = quoted + " is not a whole number";
      return false;
    }
    if (key == "shower-share") {
      if (parseDecimal(value, s.share) && s.share > 0.0 && s.share <= 1.0) return true;
      problem = quoted + " is not a share (above 0 to 1)";
      return false;
    }
    return std::nullopt;
  }

  // The sensor model's options; nothing when `key` is none of them.
  std::optional<bool> applySensor(const std::string& key, std::string_view value,
                                  std::string& problem) {
    SensorModel& m = d_.sensor;
    const std::string quoted = "'" + std::string(value) + "'";
    std::uint64_t number = 0;
    double share = 0.0;
    if (key == "hot" || key == "warm") {
      if (parseUnsigned(value, number) && number <= kMaxDefectPixels) {
        (key == "hot" ? m.hotPixels : m.warmPixels) = static_cast<std::uint32_t>(number);
        return true;
      }
      problem = quoted + " is not a pixel count (0 to 100000)";
      return false;
    }
    if (key == "noisy-row" || key == "noisy-column") {
      if (parseUnsigned(value, number) && number < kMaxSide) {
        (key == "noisy-row" ? m.noisyRow : m.noisyColumn) = static_cast<std::int32_t>(number);
        return true;
      }
      problem = quoted + " is not a row or column (0 to 8191)";
      return false;
    }
    if (key == "line-noise" || key == "leak-level") {
      if (parseUnsigned(value, number) && number >= 1 && number <= 255) {
        (key == "line-noise" ? m.lineNoise : m.leakLevel) = static_cast<std::uint8_t>(number);
        return true;
      }
      problem = quoted + " is not 1 to 255";
      return false;
    }
    if (key == "leak") return parseLeak(value, problem);
    if (key == "warm-share" || key == "tracks" || key == "long-tracks") {
      if (!parseDecimal(value, share) || share > 1.0 || (key == "warm-share" && share == 0.0)) {
        problem = quoted + " is not a share (" + (key == "warm-share" ? "above 0" : "0") + " to 1)";
        return false;
      }
      (key == "warm-share" ? m.warmShare
       : key == "tracks"   ? m.trackShare
                           : m.longTrackShare) = share;
      return true;
    }
    return std::nullopt;
  }

  // "AT+FOR": the leak starts AT seconds into the stream and lasts FOR seconds.
  bool parseLeak(std::string_view value, std::string& problem) {
    const std::size_t plus = value.find('+');
    double at = 0.0;
    double length = 0.0;
    if (plus == std::string_view::npos || !parseDecimal(value.substr(0, plus), at) ||
        !parseDecimal(value.substr(plus + 1), length) || length <= 0.0 ||
        at + length > kMaxLeakSeconds) {
      problem = "'" + std::string(value) + "' is not START+SECONDS (in seconds, SECONDS above 0)";
      return false;
    }
    d_.sensor.leakAt = at;
    d_.sensor.leakFor = length;
    return true;
  }

  bool applyAlso(std::string_view value, std::string& problem) {
    d_.alsoGiven = true;
    if (value == "none") return true;
    const std::size_t at = value.find('@');
    SimulatedFormat extra;
    if (at == std::string_view::npos ||
        !parseSize(value.substr(at + 1), extra.width, extra.height)) {
      problem = "'" + std::string(value) + "' is not FORMAT@WIDTHxHEIGHT (or none)";
      return false;
    }
    if (!parseFormat(value.substr(0, at), synthetic(), extra.fourcc, problem)) return false;
    d_.also.push_back(extra);
    return true;
  }

  SimulatedDescription& d_;
  std::set<std::string> seen_;
};

}  // namespace

bool parseSimulatedDescription(const std::string& text, SimulatedDescription& description,
                               std::string& error) {
  std::vector<std::string_view> items;
  std::string_view rest(text);
  for (;;) {
    const std::size_t comma = rest.find(',');
    items.push_back(trim(rest.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }

  SimulatedDescription d;
  // The source word, then after a colon the directory path or the first option.
  const std::string_view head = items.front();
  const std::size_t colon = head.find(':');
  const std::string_view word = trim(head.substr(0, colon));
  const std::string_view after =
      colon == std::string_view::npos ? std::string_view() : trim(head.substr(colon + 1));
  items.erase(items.begin());
  if (word == "synthetic") {
    if (!after.empty()) items.insert(items.begin(), after);
  } else if (word == "dir" && colon != std::string_view::npos) {
    d.source = SimulatedDescription::Source::Directory;
    d.directory = std::string(after);
    if (d.directory.empty()) {
      error = "dir: needs the path of a directory of sample files";
      return false;
    }
  } else {
    error = head.empty() ? std::string("the description is empty")
                         : "unknown source '" + std::string(word) + "'";
    error += "; start with 'synthetic' or 'dir:PATH'";
    return false;
  }

  Parser parser(d);
  for (const std::string_view item : items) {
    if (!parser.option(item, error)) return false;
  }
  if (trimDeviceText(d.name).empty()) {
    error = "name: must have visible characters";
    return false;
  }
  if (d.sensor.trackShare + d.sensor.longTrackShare > 1.0) {
    error = "tracks, long-tracks: their shares add up to more than 1";
    return false;
  }
  if (d.backAfter.count() != 0 && d.unplugAfter == 0) {
    error = "back-after: needs unplug-after (the camera must go away to come back)";
    return false;
  }
  description = std::move(d);
  return true;
}

}  // namespace ravdel
