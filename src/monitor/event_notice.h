#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "capture/main_loop.h"

namespace ravdel {

// The balloon of detected events. The first event shows "Event detected!"; events that come
// while that balloon still shows count into it ("3 events detected!"), its text updated in
// place at most once a second (a balloon taken away and shown anew each second never gets to
// show). No balloon, first or update, shows while the tray menu is open: it waits until the
// menu has closed. Both windows use it. Main thread only; the update timer is the main loop's,
// so the object must go before the loop.
class EventNotice {
 public:
  static constexpr int kSeconds = 10;     // how long a balloon shows
  static constexpr int kUpdateMs = 1000;  // the count is shown anew at most this often

  // `show` puts a balloon with this text at the icon, or with `inPlace` changes the text of the
  // one still showing; `menuOpen` says whether the icon's menu is open now.
  using Show = std::function<void(const std::string& text, bool inPlace)>;
  EventNotice(MainLoop& loop, Show show, std::function<bool()> menuOpen);

  void eventDetected();
  // The user clicked the balloon away: the next event starts a new one.
  void dismissed();
  int count() const { return count_; }

 private:
  using Clock = std::chrono::steady_clock;

  bool showing() const;
  void showCount();

  Show show_;
  std::function<bool()> menuOpen_;
  std::unique_ptr<LoopTimer> update_;
  Clock::time_point shownAt_{};
  bool shown_ = false;
  int count_ = 0;
};

}  // namespace ravdel
