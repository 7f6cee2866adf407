#include "monitor/event_notice.h"

#include <utility>

namespace ravdel {

EventNotice::EventNotice(MainLoop& loop, std::function<void(const std::string&)> show,
                         std::function<bool()> menuOpen)
    : show_(std::move(show)),
      menuOpen_(std::move(menuOpen)),
      update_(loop.createTimer([this] { showCount(); }, kUpdateMs, true)) {}

bool EventNotice::showing() const {
  return shown_ && Clock::now() - shownAt_ < std::chrono::seconds(kSeconds);
}

void EventNotice::eventDetected() {
  if (!showing() && !update_->isActive()) {
    count_ = 1;
    shown_ = true;
    shownAt_ = Clock::now();
    show_("Event detected!");
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
  shown_ = true;
  shownAt_ = Clock::now();
  show_(std::to_string(count_) + " events detected!");
}

}  // namespace ravdel
