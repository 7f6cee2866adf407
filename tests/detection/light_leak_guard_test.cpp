#include "detection/light_leak_guard.h"

#include <gtest/gtest.h>

namespace ravdel {
namespace {

using Change = LightLeakGuard::Change;

// One run through a leak, frame by frame, at the default settings (level 20, pause after 1 s
// above it, resume after 2 s at or below it).
TEST(LightLeakGuardTest, PausesWhenLightLastsAndResumesWhenDarkLasts) {
  const struct {
    double mean;
    double seconds;
    Change change;
    bool counts;
    const char* says;
  } frames[] = {
      {5, 0.0, Change::none, true, "dark"},
      {30, 0.5, Change::none, false, "a bright frame never counts"},
      {5, 0.6, Change::none, true, "a flash does not pause"},
      {30, 1.0, Change::none, false, "light starts"},
      {20.5, 1.9, Change::none, false, "not for a second yet"},
      {30, 2.0, Change::paused, false, "a second of light pauses"},
      {20, 2.1, Change::none, false, "the level itself is dark, but the pause holds"},
      {25, 3.0, Change::none, false, "light again: the dark spell starts over"},
      {5, 3.5, Change::none, false, "dark again"},
      {5, 5.4, Change::none, false, "not two seconds yet"},
      {5, 5.5, Change::resumed, true, "two seconds of dark resume"},
      {30, 5.6, Change::none, false, "counting: bright frames still count nothing"},
  };
  LightLeakGuard guard;
  for (const auto& f : frames) {
    SCOPED_TRACE(f.says);
    EXPECT_EQ(guard.observe(f.mean, f.seconds), f.change);
    EXPECT_EQ(guard.counts(), f.counts);
  }
  guard.restart();
  EXPECT_FALSE(guard.paused());
  EXPECT_EQ(guard.observe(30, 6.0), Change::none) << "a new run starts the second afresh";
}

}  // namespace
}  // namespace ravdel
