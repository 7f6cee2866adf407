#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace ravdel {

// Says a failure once, then counts it while it repeats, and says the count with the latest text
// at most once per interval: "<text> (306 more since 09:10)". A full folder fails at every
// event; a line for each would bury everything else. Failures are the same when their texts
// differ only in numbers (a picture's name, a count). A failure quiet for an interval is said
// whole again when it comes back. One thread: whichever its owner runs on.
class RepeatedFailures {
 public:
  using Say = std::function<void(const std::string&)>;
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kInterval = std::chrono::minutes(1);

  explicit RepeatedFailures(Say say) : say_(std::move(say)) {}

  void report(const std::string& text, Clock::time_point now = Clock::now());
  // Says the counts whose interval has passed (once a minute, say); with `all`, every count
  // not said yet (at the end).
  void flush(bool all = false, Clock::time_point now = Clock::now());

 private:
  struct Kind {
    std::string latest;      // the last text of this kind
    std::uint64_t more = 0;  // reported since it was last said
    Clock::time_point saidAt;
    std::int64_t saidAtUnixMs = 0;  // for "since 09:10"
  };

  void sayCount(Kind& kind, Clock::time_point now);

  Say say_;
  std::map<std::string, Kind> kinds_;  // by the text with its numbers left out
};

}  // namespace ravdel
