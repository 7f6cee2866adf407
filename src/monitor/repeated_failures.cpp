#include "monitor/repeated_failures.h"

#include <string_view>

#include "platform/local_time.h"

namespace ravdel {
namespace {

// The text with each run of digits as one '#': what stays the same from one failure to the
// next of its kind.
std::string kindOf(std::string_view text) {
  std::string kind;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (!digit) {
      kind += text[i];
    } else if (i == 0 || text[i - 1] < '0' || text[i - 1] > '9') {
      kind += '#';
    }
  }
  return kind;
}

// "09:10".
std::string hourAndMinute(std::int64_t unixMs) {
  return timestampText(localTimeAt(unixMs)).substr(11, 5);
}

}  // namespace

void RepeatedFailures::report(const std::string& text, Clock::time_point now) {
  const auto [it, fresh] = kinds_.try_emplace(kindOf(text));
  Kind& kind = it->second;
  kind.latest = text;
  if (!fresh && now - kind.saidAt < kInterval) {
    ++kind.more;
    return;
  }
  if (kind.more > 0) {
    ++kind.more;
    return sayCount(kind, now);
  }
  kind.saidAt = now;
  kind.saidAtUnixMs = unixMillisecondsNow();
  say_(text);
}

void RepeatedFailures::flush(bool all, Clock::time_point now) {
  for (auto it = kinds_.begin(); it != kinds_.end();) {
    Kind& kind = it->second;
    const bool due = all || now - kind.saidAt >= kInterval;
    if (due && kind.more > 0) sayCount(kind, now);
    // Quiet for a whole interval: the next one is said whole.
    it = due && kind.more == 0 && now - kind.saidAt >= kInterval ? kinds_.erase(it) : ++it;
  }
}

void RepeatedFailures::sayCount(Kind& kind, Clock::time_point now) {
  const std::string since = hourAndMinute(kind.saidAtUnixMs);
  const std::uint64_t more = kind.more;
  kind.more = 0;
  kind.saidAt = now;
  kind.saidAtUnixMs = unixMillisecondsNow();
  say_(kind.latest + " (" + std::to_string(more) + " more since " + since + ")");
}

}  // namespace ravdel
