#include "app_win32/tray_icon.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "platform/windows_text.h"

namespace ravdel {
namespace {

constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;

DWORD infoFlags(BalloonIcon icon) {
  switch (icon) {
    case BalloonIcon::information:
      return NIIF_INFO;
    case BalloonIcon::warning:
      return NIIF_WARNING;
    case BalloonIcon::error:
      return NIIF_ERROR;
    case BalloonIcon::none:
      break;
  }
  return NIIF_NONE;
}

// N - 1 bytes of UTF-8 become at most N - 1 UTF-16 units, so the text fits with its zero (a
// balloon's title and text are cut before a character that would not fit whole).
template <std::size_t N>
void copyField(wchar_t (&field)[N], std::string_view text) {
  const std::wstring wide = windows::widen(cutUtf8(text, N - 1));
  std::copy(wide.begin(), wide.end(), field);
  field[wide.size()] = L'\0';
}

}  // namespace

TrayIcon::TrayIcon(HWND owner, UINT callbackMessage, HICON icon, std::string tip, Notify notify)
    : owner_(owner),
      callbackMessage_(callbackMessage),
      icon_(icon),
      tip_(std::move(tip)),
      notify_(notify ? std::move(notify) : Notify([](DWORD message, NOTIFYICONDATAW* d) {
        return ::Shell_NotifyIconW(message, d);
      })) {}

TrayIcon::~TrayIcon() {
  remove();
}

// A fresh record each time, so later modifications carry only the message, icon and tip.
NOTIFYICONDATAW TrayIcon::data(UINT flags) const {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof d;
  d.hWnd = owner_;
  d.uID = kId;
  d.uFlags = flags;
  d.uCallbackMessage = callbackMessage_;
  d.hIcon = icon_;
  copyField(d.szTip, tip_);
  return d;
}

bool TrayIcon::add() {
  NOTIFYICONDATAW d = data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  // After Explorer restarted the old icon is gone, but a shell that kept it refuses the add.
  if (shown_) notify_(NIM_DELETE, &d);
  shown_ = notify_(NIM_ADD, &d) != FALSE;
  return shown_;
}

void TrayIcon::remove() {
  if (!shown_) return;
  NOTIFYICONDATAW d = data(0);
  notify_(NIM_DELETE, &d);
  shown_ = false;
}

void TrayIcon::setIcon(HICON icon) {
  icon_ = icon;
  if (!shown_) return;
  NOTIFYICONDATAW d = data(NIF_ICON);
  notify_(NIM_MODIFY, &d);
}

void TrayIcon::showBalloon(const std::string& title, const std::string& text, BalloonIcon icon,
                           int timeoutSeconds, bool inPlace) {
  NOTIFYICONDATAW d = data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO);
  if (!inPlace) notify_(NIM_MODIFY, &d);  // an empty text takes the old balloon away
  copyField(d.szInfoTitle, title);
  copyField(d.szInfo, text);
  d.dwInfoFlags = infoFlags(icon);
  // Negative would mean "never" to some shells; huge is capped where milliseconds still fit.
  d.uTimeout = static_cast<UINT>(std::clamp(timeoutSeconds, 0, kMaxTimeoutSeconds)) * 1000u;
  notify_(NIM_MODIFY, &d);
}

}  // namespace ravdel
