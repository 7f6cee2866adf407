#include "seeded_network.h"

#include <functional>
#include <vector>

#include "detection/event_crop.h"
#include "store/time_bins.h"
#include "support/network_rows.h"

namespace ravdel::test {
namespace {

// A dark 64x48 frame with a bright spot: its crop is what a station sends.
std::vector<std::uint8_t> spotCrop(std::int32_t x, std::int32_t y) {
  FrameBitmap frame(64, 48);
  frame.fill(6, 5, 7);
  for (std::int32_t dy = -1; dy <= 1; ++dy) {
    std::uint8_t* row = frame.row(y + dy);
    for (std::int32_t dx = -1; dx <= 1; ++dx) {
      const auto at = static_cast<std::size_t>(x + dx) * 3;
      row[at] = row[at + 1] = row[at + 2] = dx == 0 && dy == 0 ? 250 : 120;
    }
  }
  return eventCropPng(frame, x, y);
}

// `hours` of minute heartbeats up to `endUs`, an event every `everyUs` in them.
void writeRun(Store& store, const std::string& station, std::int64_t endUs, int hours,
              std::int64_t everyUs, bool synced) {
  std::vector<HeartbeatRow> beats;
  const std::int64_t startUs = endUs - hours * kHourUs;
  for (std::int64_t m = 0; m < hours * 60; ++m) {
    HeartbeatRow beat = heartbeatOver(station, m + 1, startUs + m * kMinuteUs,
                                      startUs + (m + 1) * kMinuteUs, 60000);
    beat.clockSynced = synced;
    beats.push_back(beat);
  }
  store.insertHeartbeats(beats);
  std::vector<EventRow> events;
  std::int64_t seq = 0;
  // Spaced by everyUs on average, not evenly (even spacing lines up in the shifted searches).
  std::uint64_t draw = std::hash<std::string>{}(station);
  const auto spacing = [&] {
    draw = draw * 6364136223846793005u + 1442695040888963407u;
    return everyUs / 2 +
           static_cast<std::int64_t>((draw >> 33) % static_cast<std::uint64_t>(everyUs));
  };
  for (std::int64_t t = startUs + spacing(); t < endUs; t += spacing()) {
    EventRow event = eventAt(station, ++seq, t, 20000);
    event.x = 10 + seq * 7 % 300;
    event.y = 10 + seq * 13 % 200;
    event.r = event.g = 150 + seq * 11 % 100;
    event.b = 140;
    event.clockSynced = synced;
    event.crop = spotCrop(32, 24);
    event.lat = 48.21;
    event.lon = 16.37;
    events.push_back(event);
  }
  store.insertEvents(events);
}

}  // namespace

void seedNetwork(Store& store) {
  writeRun(store, "alpha", kSeedNowUs - 30 * 1000000, 72, kHourUs / 7, true);
  writeRun(store, kMarkupStation, kSeedNowUs - 20 * 1000000, 24, kHourUs / 5, false);
  writeRun(store, "gamma", kSeedNowUs - 2 * kHourUs, 12, kHourUs / 6, true);
  EventRow a = eventAt("alpha", 1, kSeedCoincidenceUs, 25000, "c0ffee");
  EventRow b = eventAt(kMarkupStation, 1, kSeedCoincidenceUs + 4000, 60000, "c0ffee");
  a.crop = spotCrop(20, 20);
  b.crop = spotCrop(40, 30);
  a.x = 20;
  a.y = 20;
  b.x = 40;
  b.y = 30;
  store.insertEvents(std::vector<EventRow>{a, b});
  store.noteStation("alpha", 48.21, 16.37, kSeedNowUs);
}

}  // namespace ravdel::test
