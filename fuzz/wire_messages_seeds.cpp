// Writes the seed corpus of wire_messages_fuzzer into the directory given: messages as a
// station sends them, with and without the optional fields, and an acknowledgement.
// Usage: wire_messages_seeds DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/sample_rows.h"
#include "wire/messages.h"

namespace {

constexpr std::int64_t kTimeUs = 1'796'718'413'089'456;

// As a station sends it; `full` with its crop and location, else without.
ravdel::EventRow event(std::int64_t seq, bool full) {
  ravdel::EventRow e = ravdel::test::sampleEvent("alpha", "5f0c3a9e41d27b86", seq, kTimeUs);
  if (!full) {
    e.crop.clear();
    e.lat = e.lon = std::nullopt;
  }
  return e;
}

ravdel::HeartbeatRow heartbeat(std::int64_t seq) {
  return ravdel::test::sampleHeartbeat("alpha", "5f0c3a9e41d27b86", seq, kTimeUs);
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
