#include "monitor/event_json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/fourcc.h"
#include "base/json_text.h"

namespace ravdel {
namespace {

// Builds one JSON object, keys in the order they are added.
class JsonObject {
 public:
  JsonObject& number(std::string_view key, std::int64_t value) {
    return raw(key, std::to_string(value));
  }
  JsonObject& text(std::string_view key, std::string_view value) {
    this->key(key);
    appendJsonString(out_, value);
    return *this;
  }
  JsonObject& raw(std::string_view key, std::string_view json) {
    this->key(key);
    out_ += json;
    return *this;
  }
  std::string finish() { return out_ + '}'; }

 private:
  void key(std::string_view name) {
    out_ += out_.size() == 1 ? "" : ",";
    appendJsonString(out_, name);
    out_ += ':';
  }

  std::string out_ = "{";
};

}  // namespace

std::string isoLocalTime(const LocalTime& t) {
  const int offset = std::abs(t.utcOffsetMinutes);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return buffer;
}

std::string eventJsonLine(const EventReport& report) {
  JsonObject line;
  line.text("time", isoLocalTime(report.time)).number("unix_ms", report.unixMs);
  if (report.file) {
    line.text("file", *report.file);
  } else {
    line.raw("file", "null");
  }
  line.number("x", report.peak.x)
      .number("y", report.peak.y)
      .number("r", report.peak.r)
      .number("g", report.peak.g)
      .number("b", report.peak.b)
      .number("limit", report.limit)
      .number("width", report.width)
      .number("height", report.height)
      .text("fourcc", printableFourcc(report.fourcc))
      .text("camera", report.camera)
      .number("frame", report.frame);
  const bool lensKnown = report.lensMean && std::isfinite(*report.lensMean);
  line.raw("lens_mean", lensKnown ? jsonNumber(*report.lensMean) : "null");
  line.raw("live_s", jsonFixedNumber(report.liveSeconds, 3));
  line.number("t_us", report.hit.us)
      .number("t_lo_us", report.hit.loUs)
      .number("t_hi_us", report.hit.hiUs)
      .raw("clock_synced", report.hit.clockSynced ? "true" : "false")
      .text("run_id", report.runId)
      .number("seq", report.seq);
  if (report.clusters) line.raw("clusters", clustersJson(*report.clusters));
  return line.finish();
}

}  // namespace ravdel
