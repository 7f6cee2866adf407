#include "detection/light_leak_guard.h"

namespace ravdel {

void LightLeakGuard::restart() {
  paused_ = false;
  bright_ = false;
  changingSince_.reset();
}

LightLeakGuard::Change LightLeakGuard::observe(double mean, double seconds) {
  bright_ = mean > settings_.level;
  // Paused, dark frames speak for resuming; counting, bright ones for pausing.
  if (bright_ != paused_) {
    if (!changingSince_) changingSince_ = seconds;
    const double needed = paused_ ? settings_.clearSeconds : settings_.holdSeconds;
    if (seconds - *changingSince_ >= needed) {
      paused_ = !paused_;
      changingSince_.reset();
      return paused_ ? Change::paused : Change::resumed;
    }
  } else {
    changingSince_.reset();
  }
  return Change::none;
}

}  // namespace ravdel
