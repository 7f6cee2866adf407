#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace ravdel {

// The balloon of detected events. The first event shows "Event detected!"; events that come
// while that balloon still shows count into it ("3 events detected!"), which is shown again
// at most once a second and never while the tray menu is open, so balloons do not pile up
// over the menu when events come fast (a hot pixel, say). GUI thread only.
class EventBalloon final : public QObject {
 public:
  static constexpr int kSeconds = 10;     // how long a balloon shows
  static constexpr int kUpdateMs = 1000;  // the count is shown anew at most this often

  // `show` puts a balloon with this text at the icon; `menuOpen` says whether the icon's menu
  // is open now.
  EventBalloon(std::function<void(const QString&)> show, std::function<bool()> menuOpen,
               QObject* parent = nullptr);

  void eventDetected();
  // The user clicked the balloon away: the next event starts a new one.
  void dismissed();
  int count() const { return count_; }

 private:
  bool showing() const;
  void showCount();

  std::function<void(const QString&)> show_;
  std::function<bool()> menuOpen_;
  QElapsedTimer shownAt_;  // invalid while no balloon shows
  QTimer update_;
  int count_ = 0;
};

}  // namespace ravdel
