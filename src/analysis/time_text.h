#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravdel {

// A moment as people write it on a command line or in a query, as UTC microseconds since
// 1970: "2026-12-08", "2026-12-08T09:26", "2026-12-08T09:26:53.25Z", "2026-12-08 09:26:53+01:00"
// (UTC without an offset), "now", or back from now: "-30m", "-24h", "-7d". Nothing for
// anything else.
std::optional<std::int64_t> parseMoment(std::string_view text, std::int64_t nowUs);

// "2026-12-08T09:26:53.123456Z"; the fraction is left out when it is zero.
std::string utcText(std::int64_t us);

}  // namespace ravdel
