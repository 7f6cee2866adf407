#include "monitor/event_notice.h"

#include <utility>

namespace ravdel {

EventNotice::EventNotice(MainLoop& loop, Show show, std::function<bool()> menuOpen)
    : show_(std::move(show)),
      menuOpen_(std::move(menuOpen)),
      update_(loop.createTimer([this] { showCount(); }, kUpdateMs, true)) {}

bool EventNotice::showing() const {
  return shown_ && Clock::now() - shownAt_ < std::chrono::seconds(kSeconds);
}

void EventNotice::eventDetected() {
  if (!showing() && !update_->isActive()) {
    count_ = 1;
    if (menuOpen_()) {
      update_->start();  // shown once the menu has closed
      return;
    }
    shown_ = true;
    shownAt_ = Clock::now();
    show_("Event detected!", false);
    return;
  }
  ++count_;
  if (!update_->isActive()) update_->start();
}

void EventNotice::dismissed() {
  shown_ = false;
  update_->stop();
}

void EventNotice::showCount() {
  if (menuOpen_()) {
    update_->start();  // after the menu has closed
    return;
  }
  const bool inPlace = showing();
  shown_ = true;
  shownAt_ = Clock::now();
  show_(count_ == 1 ? std::string("Event detected!") : std::to_string(count_) + " events detected!",
        inPlace);
}

}  // namespace ravdel
