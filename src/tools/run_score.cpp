#include "run_score.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <string_view>

#include "base/json_text.h"
#include "platform/files.h"

namespace ravdel {
namespace {

constexpr const char* kProgram = "ravdel-analyse";

// One JSON object of a line, flattened: nested keys joined with '.', values as their text
// (strings unescaped only as far as the keys we read need: not at all).
using Fields = std::map<std::string, std::string, std::less<>>;

class LineReader {
 public:
  explicit LineReader(std::string_view text) : t_(text) {}

  bool object(const std::string& prefix, Fields& out) {
    if (!take('{')) return false;
    if (take('}')) return true;
    do {
      std::string key;
      if (!string(key) || !take(':')) return false;
      key = prefix + key;
      skipBlanks();
      if (peek() == '{') {
        if (!object(key + ".", out)) return false;
      } else if (peek() == '"') {
        std::string value;
        if (!string(value)) return false;
        out[key] = value;
      } else {
        const std::size_t end = t_.find_first_of(",} \t", pos_);
        if (end == std::string_view::npos || end == pos_) return false;
        out[key] = std::string(t_.substr(pos_, end - pos_));
        pos_ = end;
      }
    } while (take(','));
    return take('}');
  }
  bool atEnd() {
    skipBlanks();
    return pos_ == t_.size();
  }

 private:
  void skipBlanks() {
    while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\t' || t_[pos_] == '\r'))
      ++pos_;
  }
  char peek() const { return pos_ < t_.size() ? t_[pos_] : '\0'; }
  bool take(char c) {
    skipBlanks();
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  // Escapes are kept as written: no key or number we read holds one.
  bool string(std::string& out) {
    if (!take('"')) return false;
    while (pos_ < t_.size() && t_[pos_] != '"') {
      if (t_[pos_] == '\\') out += t_[pos_++];
      if (pos_ < t_.size()) out += t_[pos_++];
    }
    return take('"');
  }

  std::string_view t_;
  std::size_t pos_ = 0;
};

template <typename Number>
bool field(const Fields& fields, std::string_view key, Number& value) {
  const auto it = fields.find(key);
  if (it == fields.end()) return false;
  const std::string& text = it->second;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

template <typename Number>
std::optional<Number> optionalField(const Fields& fields, std::string_view key) {
  Number value{};
  if (!field(fields, key, value)) return std::nullopt;
  return value;
}

bool truthHit(const Fields& f, TruthHit& hit) {
  if (!field(f, "frame", hit.frame) || !field(f, "x", hit.x0) || !field(f, "y", hit.y0))
    return false;
  hit.x1 = hit.x0;
  hit.y1 = hit.y0;
  // The box is optional: a hand-written truth may give the place alone. So is the moment:
  // truths written before it was kept are scored by frame.
  field(f, "x0", hit.x0);
  field(f, "y0", hit.y0);
  field(f, "x1", hit.x1);
  field(f, "y1", hit.y1);
  hit.us = optionalField<std::int64_t>(f, "t_us");
  if (hit.us == 0) hit.us.reset();  // a frame without a time
  return true;
}

bool scoredEvent(const Fields& f, ScoredEvent& event, double& liveSeconds) {
  double live = 0.0;
  if (!field(f, "frame", event.frame) || !field(f, "x", event.x) || !field(f, "y", event.y))
    return false;
  if (field(f, "live_s", live)) liveSeconds = std::max(liveSeconds, live);
  event.us = optionalField<std::int64_t>(f, "t_us");
  event.loUs = optionalField<std::int64_t>(f, "t_lo_us");
  event.hiUs = optionalField<std::int64_t>(f, "t_hi_us");
  return true;
}

// Calls `take` with each non-empty line's fields; false with the reason said when the file
// cannot be read or a line is not an object with what `take` needs.
template <typename Take>
bool readLines(const std::string& path, const char* what, Take take) {
  std::string text;
  if (readWholeFile(path, text) != FileRead::ok) {
    std::fprintf(stderr, "%s: %s: cannot read the %s\n", kProgram, path.c_str(), what);
    return false;
  }
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    Fields fields;
    LineReader reader(line);
    if (!reader.object("", fields) || !reader.atEnd() || !take(fields)) {
      const std::string where = path + ":" + std::to_string(number);
      std::fprintf(stderr, "%s: %s: not a line of this %s\n", kProgram, where.c_str(), what);
      return false;
    }
  }
  return true;
}

std::string ratioText(const std::optional<double>& value, int decimals) {
  if (!value) return "-";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, *value);
  return buffer;
}

std::string ratioJson(const std::optional<double>& value) {
  return value ? jsonNumber(*value) : "null";
}

void printScore(const RunScore& s, double liveSeconds, bool json) {
  std::string line;
  if (json) {
    line = "{\"hits\":" + std::to_string(s.hits) + ",\"events\":" + std::to_string(s.events) +
           ",\"found\":" + std::to_string(s.found) + ",\"missed\":" + std::to_string(s.missed) +
           ",\"false_events\":" + std::to_string(s.falseEvents) +
           ",\"precision\":" + ratioJson(s.precision) + ",\"recall\":" + ratioJson(s.recall) +
           ",\"false_per_hour\":" + ratioJson(s.falsePerHour) +
           ",\"live_s\":" + jsonFixedNumber(liveSeconds, 3) + "}";
  } else {
    line = "hits " + std::to_string(s.hits) + ", found " + std::to_string(s.found) + ", missed " +
           std::to_string(s.missed) + ", events " + std::to_string(s.events) + ", false events " +
           std::to_string(s.falseEvents) + ", precision " + ratioText(s.precision, 3) +
           ", recall " + ratioText(s.recall, 3) + ", false events per hour " +
           ratioText(s.falsePerHour, 1) + " (live " + ratioText(liveSeconds, 1) + " s)";
  }
  std::printf("%s\n", line.c_str());
}

}  // namespace

bool scoreFiles(const ScoreRequest& request) {
  std::vector<TruthHit> hits;
  const bool truthRead = readLines(request.truthFile, "truth file", [&](const Fields& f) {
    TruthHit hit;
    if (!truthHit(f, hit)) return false;
    hits.push_back(hit);
    return true;
  });
  if (!truthRead) return false;
  std::vector<ScoredEvent> events;
  double lastLive = 0.0;
  for (const std::string& log : request.eventLogs) {
    const bool read = readLines(log, "event log", [&](const Fields& f) {
      ScoredEvent event;
      if (!scoredEvent(f, event, lastLive)) return false;
      events.push_back(event);
      return true;
    });
    if (!read) return false;
  }
  const double live = request.liveSeconds.value_or(lastLive);
  printScore(scoreRun(std::move(hits), std::move(events), request.tolerance, live), live,
             request.json);
  return true;
}

}  // namespace ravdel
