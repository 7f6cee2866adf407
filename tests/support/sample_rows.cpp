#include "support/sample_rows.h"

#include <chrono>

namespace ravdel::test {

std::vector<std::uint8_t> pngHeader(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                   0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  for (const std::uint32_t side : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8)
      png.push_back(static_cast<std::uint8_t>(side >> shift));
  }
  png.insert(png.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});  // depth, colour, methods, CRC
  return png;
}

EventRow sampleEvent(const std::string& station, const std::string& runId, std::int64_t seq,
                     std::int64_t tUs) {
  EventRow e;
  e.station = station;
  e.runId = runId;
  e.seq = seq;
  e.tUs = tUs;
  e.tLoUs = tUs - 20'000;
  e.tHiUs = tUs + 20'000;
  e.clockSynced = true;
  e.x = 12;
  e.y = 40;
  e.r = 255;
  e.g = 200;
  e.b = 180;
  e.limit = 150;
  e.width = 320;
  e.height = 240;
  e.fourcc = "YUY2";
  e.camera = "USB Camera";
  e.frame = 1234;
  e.liveSeconds = 41.207;
  e.crop = pngHeader(32, 32);
  e.lat = 48.21;
  e.lon = 16.37;
  return e;
}

HeartbeatRow sampleHeartbeat(const std::string& station, const std::string& runId,
                             std::int64_t hbSeq, std::int64_t toUs) {
  HeartbeatRow h;
  h.station = station;
  h.runId = runId;
  h.hbSeq = hbSeq;
  h.fromUs = toUs - 60'000'000;
  h.toUs = toUs;
  h.liveMs = 59'000;
  h.framesDelivered = 1800;
  h.framesAnalysed = 1799;
  h.framesDropped = 1;
  h.events = 3;
  h.clockSynced = true;
  h.clockErrorUs = 2000;
  return h;
}

std::int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace ravdel::test
