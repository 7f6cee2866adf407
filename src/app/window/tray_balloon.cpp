#include "app/window/tray_balloon.h"

#include <QSystemTrayIcon>
#include <algorithm>

namespace ravdel {
namespace {

constexpr qsizetype kTitleMax = 63;
constexpr qsizetype kTextMax = 255;
constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;

QSystemTrayIcon::MessageIcon messageIcon(BalloonIcon icon) {
  switch (icon) {
    case BalloonIcon::Information:
      return QSystemTrayIcon::Information;
    case BalloonIcon::Warning:
      return QSystemTrayIcon::Warning;
    case BalloonIcon::Error:
      return QSystemTrayIcon::Critical;
    case BalloonIcon::None:
      break;
  }
  return QSystemTrayIcon::NoIcon;
}

}  // namespace

BalloonRequest balloonRequest(const QString& title, const QString& text, BalloonIcon icon,
                              int timeoutSeconds) {
  // A negative time-out would mean "for ever" to some notification areas, so it is taken as
  // none; a huge one is capped where the milliseconds still fit.
  const int seconds = std::clamp(timeoutSeconds, 0, kMaxTimeoutSeconds);
  return {title.left(kTitleMax), text.left(kTextMax), icon, seconds * 1000};
}

void showBalloon(QSystemTrayIcon& tray, const BalloonRequest& request) {
  tray.showMessage(request.title, request.text, messageIcon(request.icon), request.timeoutMs);
}

}  // namespace ravdel
