#include "app/window/event_balloon.h"

#include <utility>

namespace ravdel {

EventBalloon::EventBalloon(std::function<void(const QString&)> show, std::function<bool()> menuOpen,
                           QObject* parent)
    : QObject(parent), show_(std::move(show)), menuOpen_(std::move(menuOpen)) {
  update_.setSingleShot(true);
  update_.setInterval(kUpdateMs);
  connect(&update_, &QTimer::timeout, this, [this] { showCount(); });
}

bool EventBalloon::showing() const {
  return shownAt_.isValid() && !shownAt_.hasExpired(kSeconds * 1000);
}

void EventBalloon::eventDetected() {
  if (!showing() && !update_.isActive()) {
    count_ = 1;
    shownAt_.start();
    show_(QStringLiteral("Event detected!"));
    return;
  }
  ++count_;
  if (!update_.isActive()) update_.start();
}

void EventBalloon::dismissed() {
  shownAt_.invalidate();
  update_.stop();
}

void EventBalloon::showCount() {
  if (menuOpen_()) {
    update_.start();  // after the menu has closed
    return;
  }
  shownAt_.start();
  show_(QStringLiteral("%1 events detected!").arg(count_));
}

}  // namespace ravdel
