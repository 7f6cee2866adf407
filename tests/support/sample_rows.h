#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/rows.h"

namespace ravdel::test {

// The first bytes of a PNG of width x height: its signature and header chunk, all the server
// reads of a crop.
std::vector<std::uint8_t> pngHeader(std::uint32_t width, std::uint32_t height);

// A valid event of `station`'s run `runId` at `tUs`, with every field set (a 32x32 crop and a
// location too), as a station would send it.
EventRow sampleEvent(const std::string& station, const std::string& runId, std::int64_t seq,
                     std::int64_t tUs);
// A valid heartbeat: the minute up to `toUs`.
HeartbeatRow sampleHeartbeat(const std::string& station, const std::string& runId,
                             std::int64_t hbSeq, std::int64_t toUs);

// The system clock in UTC microseconds.
std::int64_t nowUs();

}  // namespace ravdel::test
