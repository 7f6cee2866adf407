#include "monitor/repeated_failures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/local_time.h"

namespace ravdel {
namespace {

constexpr std::int64_t kWallMs = 1761355800000;

std::int64_t standingClock() {
  return kWallMs;
}

// A full folder fails at every event: the first failure is said, the same one again (another
// picture's name) is counted and said with its count at most once a minute; another failure is
// said at once; a failure quiet for a minute is said whole again.
TEST(RepeatedFailuresTest, SaidOnceThenCountedAtMostOnceAMinute) {
  setWallClock(standingClock);
  std::vector<std::string> said;
  RepeatedFailures failures([&](const std::string& text) { said.push_back(text); });
  const auto at = [](int seconds) {
    return RepeatedFailures::Clock::time_point{} + std::chrono::hours(1) +
           std::chrono::seconds(seconds);
  };
  const auto full = [](int name) {
    return "Cannot create file \"/out/2610250230" + std::to_string(name) +
           ".png\". No space left on device.";
  };
  const std::string since = " more since " + timestampText(localTimeAt(kWallMs)).substr(11, 5);
  const struct {
    int second;
    std::string text;  // reported; empty: a flush
    bool all;
    std::vector<std::string> says;
  } steps[] = {
      {0, full(1), false, {full(1)}},
      {1, full(2), false, {}},
      {2, full(3), false, {}},
      {3, "The camera is gone", false, {"The camera is gone"}},
      {30, "", false, {}},
      {61, "", false, {full(3) + " (2" + since + ")"}},
      {62, full(4), false, {}},
      {122, full(5), false, {full(5) + " (2" + since + ")"}},
      {300, "", false, {}},  // nothing more: forgotten
      {301, full(6), false, {full(6)}},
      {302, full(7), false, {}},
      {303, "", true, {full(7) + " (1" + since + ")"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.second);
    said.clear();
    if (step.text.empty()) {
      failures.flush(step.all, at(step.second));
    } else {
      failures.report(step.text, at(step.second));
    }
    EXPECT_EQ(said, step.says);
  }
  setWallClock(nullptr);
}

}  // namespace
}  // namespace ravdel
