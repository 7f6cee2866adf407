#include "monitor/hit_time.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ravdel {
namespace {

// The hit lies in the exposure before the frame's moment, widened by the clock's bound: the
// device's period over the format's, the system's bound over the settings'.
TEST(HitTimeTest, TheExposureBeforeTheMomentWidenedByTheClocksBound) {
  constexpr std::int64_t kMoment = 1796718413000000;
  const struct {
    FrameMoment moment;
    std::int64_t nominal;
    ClockState clock;
    HitTime expected;
  } cases[] = {
      // 30 fps measured, a synchronised clock good to 2 ms
      {{kMoment, 33333},
       40000,
       {true, 2000},
       {kMoment - 16666, kMoment - 35333, kMoment + 2000, true}},
      // no period from the device: the format's
      {{kMoment, 0}, 40000, {true, 2000}, {kMoment - 20000, kMoment - 42000, kMoment + 2000, true}},
      // an unsynchronised clock: the settings' 100 ms, whatever the kernel's figure says
      {{kMoment, 66666},
       0,
       {false, 7},
       {kMoment - 33333, kMoment - 166666, kMoment + 100000, false}},
      // nothing known but the moment
      {{kMoment, 0}, 0, {false, 0}, {kMoment, kMoment - 100000, kMoment + 100000, false}},
  };
  for (const auto& c : cases) {
    const HitTime t = hitTime(c.moment, c.nominal, c.clock, 100000);
    EXPECT_EQ(t.us, c.expected.us);
    EXPECT_EQ(t.loUs, c.expected.loUs);
    EXPECT_EQ(t.hiUs, c.expected.hiUs);
    EXPECT_EQ(t.clockSynced, c.expected.clockSynced);
    EXPECT_LE(t.loUs, t.us);
    EXPECT_LE(t.us, t.hiUs);
  }
}

TEST(HitTimeTest, RunIdsAreSixteenHexDigitsAndDiffer) {
  std::set<std::string> ids;
  for (int i = 0; i < 100; ++i) {
    const std::string id = newRunId();
    EXPECT_EQ(id.size(), 16u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 100u);
}

}  // namespace
}  // namespace ravdel
