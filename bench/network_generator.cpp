#include "network_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "detection/event_crop.h"
#include "store/time_bins.h"

namespace ravdel::bench {
namespace {

constexpr std::size_t kBatch = 5000;
constexpr std::int64_t kRunUs = 30 * kDayUs;
constexpr std::int64_t kPauseUs = kHourUs;

std::vector<std::uint8_t> darkCrop() {
  FrameBitmap frame(64, 48);
  frame.fill(6, 5, 7);
  frame.row(24)[32 * 3 + 1] = 240;
  return eventCropPng(frame, 32, 24);
}

// One station's rows, written as they fill a batch.
class StationWriter {
 public:
  StationWriter(Store& store, int index, const NetworkShape& shape, Generated& counts)
      : store_(store),
        shape_(shape),
        counts_(counts),
        random_(shape.seed * 7919 + static_cast<std::uint64_t>(index)) {
    name_ = stationName(index);
    periodUs_ = index % 3 == 0 ? 66667 : index % 3 == 1 ? 40000 : 33333;  // 15, 25, 30 fps
    errorUs_ = index % 4 == 0 ? 100000 : 2000 + 1000 * (index % 20);
    crop_ = darkCrop();
  }

  void event(const std::string& runId, std::int64_t tUs) {
    EventRow e;
    e.station = name_;
    e.runId = runId;
    e.seq = ++seq_;
    e.tUs = tUs;
    e.tLoUs = tUs - periodUs_ / 2 - errorUs_;
    e.tHiUs = tUs + periodUs_ / 2 + errorUs_;
    e.clockSynced = errorUs_ < 100000;
    e.x = static_cast<std::int64_t>(random_() % 640);
    e.y = static_cast<std::int64_t>(random_() % 480);
    e.r = e.g = e.b = 160 + static_cast<std::int64_t>(random_() % 96);
    e.limit = 150;
    e.width = 640;
    e.height = 480;
    e.fourcc = "YUY2";
    e.camera = "USB Camera";
    e.crop = crop_;
    e.storedUs = tUs;
    events_.push_back(std::move(e));
    if (events_.size() >= kBatch) flushEvents();
  }

  // The run [fromUs, toUs): heartbeats and its own events; the shower instants given fall in.
  void run(std::int64_t fromUs, std::int64_t toUs, const std::vector<std::int64_t>& showers) {
    char id[17];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(random_()));
    const std::string runId = id;
    seq_ = 0;
    std::exponential_distribution<double> gap(shape_.eventsPerHour / 3600e6);
    auto shower = std::lower_bound(showers.begin(), showers.end(), fromUs);
    for (double t = static_cast<double>(fromUs) + gap(random_); t < static_cast<double>(toUs);
         t += gap(random_)) {
      for (; shower != showers.end() && *shower < static_cast<std::int64_t>(t); ++shower)
        event(runId, *shower);
      event(runId, static_cast<std::int64_t>(t));
    }
    for (; shower != showers.end() && *shower < toUs; ++shower)
      event(runId, *shower);
    std::int64_t hbSeq = 0;
    for (std::int64_t from = fromUs; from < toUs; from += shape_.heartbeatUs) {
      HeartbeatRow h;
      h.station = name_;
      h.runId = runId;
      h.hbSeq = ++hbSeq;
      h.fromUs = from;
      h.toUs = std::min(toUs, from + shape_.heartbeatUs);
      h.liveMs = (h.toUs - h.fromUs) / 1000;
      h.framesDelivered = h.framesAnalysed = h.liveMs * 1000 / periodUs_;
      h.clockSynced = errorUs_ < 100000;
      h.clockErrorUs = errorUs_;
      h.storedUs = h.toUs;
      heartbeats_.push_back(std::move(h));
      if (heartbeats_.size() >= kBatch) flushHeartbeats();
    }
  }

  void finish() {
    flushEvents();
    flushHeartbeats();
  }

 private:
  void flushEvents() {
    std::sort(events_.begin(), events_.end(),
              [](const EventRow& a, const EventRow& b) { return a.seq < b.seq; });
    store_.insertEvents(events_);
    counts_.events += static_cast<std::int64_t>(events_.size());
    events_.clear();
  }
  void flushHeartbeats() {
    store_.insertHeartbeats(heartbeats_);
    counts_.heartbeats += static_cast<std::int64_t>(heartbeats_.size());
    heartbeats_.clear();
  }

  Store& store_;
  const NetworkShape& shape_;
  Generated& counts_;
  std::mt19937_64 random_;
  std::string name_;
  std::int64_t periodUs_ = 0;
  std::int64_t errorUs_ = 0;
  std::int64_t seq_ = 0;
  std::vector<std::uint8_t> crop_;
  std::vector<EventRow> events_;
  std::vector<HeartbeatRow> heartbeats_;
};

}  // namespace

std::string stationName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "station-%03d", index + 1);
  return name;
}

Generated generateNetwork(Store& store, const NetworkShape& shape) {
  const std::int64_t endUs = shape.startUs + shape.days * kDayUs;
  // The showers first: each station learns the instants it sees.
  std::mt19937_64 random(shape.seed);
  std::vector<std::vector<std::int64_t>> seen(static_cast<std::size_t>(shape.stations));
  std::exponential_distribution<double> gap(shape.showersPerHour / 3600e6);
  for (double t = static_cast<double>(shape.startUs) + gap(random);
       shape.showersPerHour > 0 && t < static_cast<double>(endUs); t += gap(random)) {
    const auto hit = 2 + random() % 3;
    for (std::uint64_t i = 0; i < hit; ++i)
      seen[random() % seen.size()].push_back(static_cast<std::int64_t>(t));
  }
  Generated counts;
  for (int s = 0; s < shape.stations; ++s) {
    auto& instants = seen[static_cast<std::size_t>(s)];
    std::sort(instants.begin(), instants.end());
    instants.erase(std::unique(instants.begin(), instants.end()), instants.end());
    StationWriter writer(store, s, shape, counts);
    for (std::int64_t from = shape.startUs + (s % 7) * kMinuteUs; from < endUs;
         from += kRunUs + kPauseUs)
      writer.run(from, std::min(endUs, from + kRunUs), instants);
    writer.finish();
  }
  return counts;
}

}  // namespace ravdel::bench
