#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <functional>
#include <string>
#include <string_view>

#include "base/utf8_text.h"

namespace ravdel {

enum class BalloonIcon { none, information, warning, error };

// The program's icon in the notification area, through Shell_NotifyIconW. Clicks and balloon
// answers arrive at `owner` as `callbackMessage` (wParam the icon's id, lParam the mouse or
// balloon message). Removed when destroyed. Main thread only.
class TrayIcon {
 public:
  static constexpr UINT kId = 1;
  static constexpr std::size_t kTitleBytes = 63;
  static constexpr std::size_t kTextBytes = 255;
  // Shell_NotifyIconW, or what a test puts in its place.
  using Notify = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

  // `icon` is borrowed: it must stay valid until setIcon gives another or the icon is removed.
  TrayIcon(HWND owner, UINT callbackMessage, HICON icon, std::string tip, Notify notify = {});
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Puts the icon into the notification area; again after Explorer restarted, when the old one
  // went with the old taskbar. False when the shell refused (no notification area yet).
  bool add();
  void remove();
  bool shown() const { return shown_; }
  // The icon shown from now on (a new DPI's); the old one may be destroyed once this returns.
  void setIcon(HICON icon);
  // A balloon; a balloon still showing is taken away first (an empty one does that), unless
  // `inPlace`: then its text changes where it stands. The time-out is in whole seconds; title
  // and text are cut to what the fields hold.
  void showBalloon(const std::string& title, const std::string& text, BalloonIcon icon,
                   int timeoutSeconds, bool inPlace = false);

 private:
  NOTIFYICONDATAW data(UINT flags) const;

  HWND owner_;
  UINT callbackMessage_;
  HICON icon_;  // not owned
  std::string tip_;
  Notify notify_;
  bool shown_ = false;
};

}  // namespace ravdel
