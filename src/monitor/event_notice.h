#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "capture/main_loop.h"

namespace ravdel {

// The balloon of detected events. The first event shows "Event detected!"; events that come
// while that balloon still shows count into it ("3 events detected!"), shown again at most
// once a second and never while the tray menu is open, so that balloons do not pile up over
// the menu when events come fast (a hot pixel, say). Both windows use it. Main thread only; the
// update timer is the main loop's, so the object must go before the loop.
class EventNotice {
 public:
  static constexpr int kSeconds = 10;     // how long a balloon shows
  static constexpr int kUpdateMs = 1000;  // the count is shown anew at most this often

  // `show` puts a balloon with this text at the icon; `menuOpen` says whether the icon's menu
  // is open now.
  EventNotice(MainLoop& loop, std::function<void(const std::string&)> show,
              std::function<bool()> menuOpen);

  void eventDetected();
  // The user clicked the balloon away: the next event starts a new one.
  void dismissed();
  int count() const { return count_; }

 private:
  using Clock = std::chrono::steady_clock;

  bool showing() const;
  void showCount();

  std::function<void(const std::string&)> show_;
  std::function<bool()> menuOpen_;
  std::unique_ptr<LoopTimer> update_;
  Clock::time_point shownAt_{};
  bool shown_ = false;
  int count_ = 0;
};

}  // namespace ravdel
