// The server's reading of a station's message, fed any bytes. Beyond not crashing: whatever it
// accepts, written again by the station's encoder, reads back the same, with nothing rejected.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "wire/messages.h"

namespace {

constexpr std::int64_t kNowUs = 1'796'718'413'000'000;

template <class Row>
void expectSameKeys(const std::vector<Row>& a, const std::vector<Row>& b, std::int64_t Row::*seq) {
  if (a.size() != b.size()) std::abort();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].runId != b[i].runId || a[i].*seq != b[i].*seq) std::abort();
  }
}

void checkEvents(std::string_view payload) {
  const ravdel::ReceivedEvents first = ravdel::parseEvents("alpha", payload, kNowUs);
  if (!first.ok()) return;
  const ravdel::ReceivedEvents again =
      ravdel::parseEvents("alpha", ravdel::encodeEvents("alpha", first.rows), kNowUs);
  if (!again.ok() || !again.rejected.empty() || !again.unnamed.empty()) std::abort();
  expectSameKeys(first.rows, again.rows, &ravdel::EventRow::seq);
  for (std::size_t i = 0; i < first.rows.size(); ++i) {
    if (first.rows[i].crop != again.rows[i].crop || first.rows[i].flags != again.rows[i].flags)
      std::abort();
  }
}

void checkHeartbeats(std::string_view payload) {
  const ravdel::ReceivedHeartbeats first = ravdel::parseHeartbeats("alpha", payload, kNowUs);
  if (!first.ok()) return;
  const ravdel::ReceivedHeartbeats again =
      ravdel::parseHeartbeats("alpha", ravdel::encodeHeartbeats("alpha", first.rows), kNowUs);
  if (!again.ok() || !again.rejected.empty() || !again.unnamed.empty()) std::abort();
  expectSameKeys(first.rows, again.rows, &ravdel::HeartbeatRow::hbSeq);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  checkEvents(payload);
  checkHeartbeats(payload);
  (void)ravdel::parseAck(payload);
  (void)ravdel::splitStationTopic(payload);
  return 0;
}
