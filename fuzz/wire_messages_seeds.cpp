// Writes the seed corpus of wire_messages_fuzzer into the directory given: messages as a
// station sends them, with and without the optional fields, and an acknowledgement.
// Usage: wire_messages_seeds DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "wire/messages.h"

namespace {

ravdel::EventRow event(std::int64_t seq, bool full) {
  ravdel::EventRow e;
  e.runId = "5f0c3a9e41d27b86";
  e.seq = seq;
  e.tUs = 1'796'718'413'089'456;
  e.tLoUs = e.tUs - 20'000;
  e.tHiUs = e.tUs + 20'000;
  e.clockSynced = full;
  e.x = 12;
  e.y = 40;
  e.r = 255;
  e.limit = 150;
  e.width = 320;
  e.height = 240;
  e.fourcc = "YUY2";
  e.camera = "USB Camera";
  e.frame = 1234;
  e.liveSeconds = 41.207;
  if (full) {
    e.crop = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
              0,    0,   0,   32,  0,    0,    0,    32,   8, 2, 0, 0,  0,   0,   0,   0};
    e.lat = 48.21;
    e.lon = 16.37;
  }
  return e;
}

ravdel::HeartbeatRow heartbeat(std::int64_t seq) {
  ravdel::HeartbeatRow h;
  h.runId = "5f0c3a9e41d27b86";
  h.hbSeq = seq;
  h.fromUs = 1'796'718'400'000'000;
  h.toUs = h.fromUs + 60'000'000;
  h.liveMs = 60'000;
  h.framesDelivered = h.framesAnalysed = 1800;
  return h;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: wire_messages_seeds DIR\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<std::string> seeds = {
      ravdel::encodeEvents("alpha", std::vector<ravdel::EventRow>{event(1, true)}),
      ravdel::encodeEvents("alpha", std::vector<ravdel::EventRow>{event(2, false), event(3, true)}),
      ravdel::encodeHeartbeats("alpha",
                               std::vector<ravdel::HeartbeatRow>{heartbeat(1), heartbeat(2)}),
      ravdel::encodeAck({{{"5f0c3a9e41d27b86", 1}}, {}, {{"event", {"5f0c", 2}, "flood"}}}),
  };
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    std::ofstream(dir + "/seed" + std::to_string(i), std::ios::binary) << seeds[i];
  }
  return 0;
}
