#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <string>
#include <string_view>

namespace ravdel {

enum class BalloonIcon { none, information, warning, error };

// The text a balloon's fixed field holds: at most `maxBytes` bytes of UTF-8, cut before a
// character that would not fit whole.
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

// The program's icon in the notification area, through Shell_NotifyIconA. Clicks and balloon
// answers arrive at `owner` as `callbackMessage` (wParam the icon's id, lParam the mouse or
// balloon message). Removed when destroyed. Main thread only.
class TrayIcon {
 public:
  static constexpr UINT kId = 1;
  static constexpr std::size_t kTitleBytes = 63;
  static constexpr std::size_t kTextBytes = 255;

  TrayIcon(HWND owner, UINT callbackMessage, HICON icon, std::string tip);
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Puts the icon into the notification area; again after Explorer restarted, when the old one
  // went with the old taskbar. False when the shell refused (no notification area).
  bool add();
  void remove();
  bool shown() const { return shown_; }
  // Replaces any balloon still showing: an empty one first takes it away. The time-out is in
  // whole seconds; title and text are cut to what the fields hold.
  void showBalloon(const std::string& title, const std::string& text, BalloonIcon icon,
                   int timeoutSeconds);

 private:
  NOTIFYICONDATAA data(UINT flags) const;

  HWND owner_;
  UINT callbackMessage_;
  HICON icon_;  // not owned
  std::string tip_;
  bool shown_ = false;
};

}  // namespace ravdel
