#include "station/history_sink.h"

#include <charconv>
#include <cmath>

#include "base/fourcc.h"
#include "detection/event_crop.h"
#include "platform/clock_state.h"
#include "platform/local_time.h"

namespace ravdel {
namespace {

std::int64_t nowUs() {
  return unixMillisecondsNow() * 1000;
}

double coarse(double degrees) {
  return std::round(degrees * 100.0) / 100.0;
}

bool parseDegrees(std::string_view text, double limit, double& value) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(value) &&
         std::fabs(value) <= limit;
}

std::int64_t difference(std::uint64_t now, std::uint64_t before) {
  return now >= before ? static_cast<std::int64_t>(now - before) : 0;
}

}  // namespace

bool parseLocation(const std::string& text, double& lat, double& lon) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  double a = 0, b = 0;
  if (!parseDegrees(std::string_view(text).substr(0, comma), 90, a) ||
      !parseDegrees(std::string_view(text).substr(comma + 1), 180, b))
    return false;
  lat = coarse(a);
  lon = coarse(b);
  return true;
}

HistorySink::HistorySink(std::unique_ptr<Store> store, StationIdentity identity, bool sending,
                         Note note, std::function<void()> wrote)
    : store_(std::move(store)),
      identity_(std::move(identity)),
      sending_(sending),
      note_(std::move(note)),
      wrote_(std::move(wrote)) {}

void HistorySink::runStarted(const RunStart& start) {
  runId_ = start.runId;
  hbSeq_ = 0;
  lastToUs_ = start.startUs;
  lastStatus_ = start.before;
}

// The last, partial minute: the heartbeats of a run add up to its whole live time.
void HistorySink::runStopped(const MonitorStatus& last) {
  if (runId_.empty()) return;
  writeHeartbeat(last);
  runId_.clear();
}

void HistorySink::minuteTicked(const MonitorStatus& status) {
  if (runId_.empty()) return;  // the minute tick goes on after Stop
  writeHeartbeat(status);
  prune();
}

EventRow HistorySink::eventRow(const EventReport& report) const {
  EventRow row;
  row.station = identity_.station;
  row.runId = report.runId;
  row.seq = report.seq;
  row.tUs = report.hit.us;
  row.tLoUs = report.hit.loUs;
  row.tHiUs = report.hit.hiUs;
  row.clockSynced = report.hit.clockSynced;
  row.x = report.peak.x;
  row.y = report.peak.y;
  row.r = report.peak.r;
  row.g = report.peak.g;
  row.b = report.peak.b;
  row.limit = report.limit;
  row.width = report.width;
  row.height = report.height;
  row.fourcc = printableFourcc(report.fourcc);
  row.camera = report.camera;
  row.frame = report.frame;
  row.liveSeconds = report.liveSeconds;
  if (report.picture != nullptr)
    row.crop = eventCropPng(*report.picture, report.peak.x, report.peak.y);
  row.lat = identity_.lat;
  row.lon = identity_.lon;
  row.storedUs = nowUs();
  row.delivered = !sending_;
  return row;
}

void HistorySink::eventRecorded(const EventReport& report) {
  try {
    store_->insertEvents(std::vector<EventRow>{eventRow(report)});
    if (wrote_) wrote_();
  } catch (const std::exception& e) {
    failed("an event", e);
  }
}

void HistorySink::writeHeartbeat(const MonitorStatus& status) {
  const ClockState clock = systemClockState();
  HeartbeatRow row;
  row.station = identity_.station;
  row.runId = runId_;
  row.hbSeq = hbSeq_ + 1;
  row.fromUs = lastToUs_;
  row.toUs = nowUs();
  row.liveMs = std::llround((status.liveSeconds - lastStatus_.liveSeconds) * 1000.0);
  row.framesDelivered = difference(status.framesDelivered, lastStatus_.framesDelivered);
  row.framesAnalysed = difference(status.framesAnalysed, lastStatus_.framesAnalysed);
  const auto dropped = [](const MonitorStatus& s) {
    return s.droppedIdle + s.droppedBusy + s.droppedBacklog;
  };
  row.framesDropped = difference(dropped(status), dropped(lastStatus_));
  row.events = status.events - lastStatus_.events;  // both of this run: 0 at its start
  row.maskedPixels = status.maskedPixels;
  row.leakPausedMs =
      std::llround((status.leakPausedSeconds - lastStatus_.leakPausedSeconds) * 1000.0);
  row.clockSynced = clock.synced;
  row.clockErrorUs = clock.maxErrorUs;
  row.storedUs = row.toUs;
  row.delivered = !sending_;
  try {
    store_->insertHeartbeats(std::vector<HeartbeatRow>{row});
    hbSeq_ = row.hbSeq;
    lastToUs_ = row.toUs;
    lastStatus_ = status;
    if (wrote_) wrote_();
  } catch (const std::exception& e) {
    failed("a heartbeat", e);
  }
}

void HistorySink::prune() {
  try {
    const std::int64_t keepUs = identity_.keepDays * 86400 * 1000000;
    store_->prune(nowUs() - keepUs, identity_.keepBytes);
    const bool full = store_->database().sizeBytes() > identity_.keepBytes;
    if (full && !saidFull_) {
      note_("The station's store is full: " + std::to_string(store_->undeliveredCount()) +
            " rows wait for the server and are kept; nothing delivered is left to remove");
    }
    saidFull_ = full;
  } catch (const std::exception& e) {
    failed("the pruning", e);
  }
}

void HistorySink::failed(const std::string& doing, const std::exception& error) {
  ++failures_;
  if (saidFailure_) return;
  saidFailure_ = true;
  note_("The station's store could not keep " + doing + ": " + error.what() +
        " (said once; the summary counts them)");
}

}  // namespace ravdel
