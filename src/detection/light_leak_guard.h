#pragma once

#include <optional>

namespace ravdel {

// Counting pauses while light leaks through the tape. A frame whose mean pixel magnitude is
// above the level counts no event; when that lasts `holdSeconds` the guard pauses (the caller
// says "Light leak" and stops the live time), and it resumes once frames have stayed at or
// below the level for `clearSeconds`. A hit lights a few pixels and hardly moves the mean, so
// a bright frame is light, not a hit. The caller's clock runs on through the pause. One
// thread.
class LightLeakGuard {
 public:
  struct Settings {
    // Mean magnitude: a covered sensor sits near 5, the lens check calls 40 uncovered.
    double level = 20.0;
    double holdSeconds = 1.0;
    double clearSeconds = 2.0;
  };
  enum class Change { none, paused, resumed };

  LightLeakGuard() = default;
  explicit LightLeakGuard(const Settings& settings) : settings_(settings) {}

  // A new run: counting, nothing seen.
  void restart();
  // One frame's mean magnitude at `seconds` on the caller's clock.
  Change observe(double mean, double seconds);
  // Whether the frame last observed may count events.
  bool counts() const { return !paused_ && !bright_; }
  bool paused() const { return paused_; }
  const Settings& settings() const { return settings_; }

 private:
  Settings settings_;
  bool paused_ = false;
  bool bright_ = false;                  // the last frame was above the level
  std::optional<double> changingSince_;  // when the frames began to say the other state
};

}  // namespace ravdel
