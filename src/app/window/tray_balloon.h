#pragma once

#include <QString>

class QSystemTrayIcon;

namespace ravdel {

enum class BalloonIcon { None, Information, Warning, Error };

// One balloon at the tray icon, cut to what a notification area takes: a title of at most 63
// characters and a text of at most 255; the time-out in milliseconds.
struct BalloonRequest {
  QString title;
  QString text;
  BalloonIcon icon = BalloonIcon::None;
  int timeoutMs = 0;
};

BalloonRequest balloonRequest(const QString& title, const QString& text, BalloonIcon icon,
                              int timeoutSeconds);

// Shows the balloon; one still showing is replaced.
void showBalloon(QSystemTrayIcon& tray, const BalloonRequest& request);

}  // namespace ravdel
