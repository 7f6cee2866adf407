#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app_win32/control_ids.h"
#include "app_win32/glyphs.h"
#include "app_win32/tray_icon.h"
#include "capture/capture_device.h"
#include "monitor/monitor.h"
#include "platform/os_release.h"
#include "platform/single_instance.h"
#include "session/monitor_session.h"
#include "web/station_page.h"

namespace ravdel {

class EventNotice;
class FrameFailureBox;
class Win32MainLoop;

// The maker's site and support address of the about area; a build may set its own.
std::string makerSite();
std::string supportMail();

// What the window is started with. The program passes the real ones; tests a fake camera,
// files and a mutex name of their own.
struct MainFormSetup {
  CaptureBackend* backend = nullptr;  // not owned; must outlive the window
  std::string settingsPath;
  std::string defaultDirectory;  // the program's folder, ending with a separator
  std::string instanceName;      // empty: "RVDAMutex"
  // Shown only once this instance knows it is the only one.
  std::string startupWarning;
  // The notification area: Shell_NotifyIconW unless a test brings its own. At log-on Explorer
  // may not have one yet: the icon is tried again every trayRetryMs, trayRetries times.
  TrayIcon::Notify notifyIcon;
  int trayRetryMs = 2000;
  int trayRetries = 30;
};

// The one window of the program, a view over the monitoring sequence: its handlers forward to
// the monitor, which shows its results through the window's controls. It owns every
// long-lived object. Everything here runs on the main thread, the thread of its message loop;
// frames arrive there too, through the loop's hidden window.
class TMainForm final : private MonitorView, private EventSink {
 public:
  static constexpr int kClientWidth = 242;  // at 96 dots per inch
  static constexpr int kClientHeight = 267;
  static constexpr UINT kTrayMessage = WM_APP + 1;

  explicit TMainForm(const MainFormSetup& setup);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Start-up ended the program: a second instance, or a system that is not NT-based.
  bool terminated() const { return terminated_; }
  // The message loop, until the window has closed.
  int run();

  void FormCreate();
  void FormCloseQuery(bool& canClose);
  void FormClose();
  // WM_QUERYENDSESSION: the next close really exits.
  void QueryEndSession();
  void OnPowerBroadcast(WPARAM event);

  void FillCameraList();
  void UpdateSBClick();
  void CamLstCBChange();
  void RunSBClick();
  void StopSBClick();
  void StopMonitoring();
  void DirSBClick();
  void SaveSetSBClick();
  void ExitSBClick();
  void TrayIClick();
  void RestoreClick();
  void MinimizeClick();
  void DetectionOptionsClick();
  void NetworkOptionsClick();
  // Opens the station's own page, from its local history, in the user's browser.
  void HistoryClick();
  void QuitClick();
  void HomeLMouseMove();
  void HomeLMouseLeave();
  void HomeLClick();
  void MailLMouseMove();
  void MailLMouseLeave();
  void MailLClick();
  void SPMTimerTimer();
  void OnNewFrame();
  void RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r);

  // The one box for a failure no handler dealt with (caption "Ravdel", error icon, the
  // failure text's full-stop rule); the program goes on afterwards.
  void showFailure(std::string_view message);

  HWND window() const { return window_; }
  HWND control(ControlId id) const { return ::GetDlgItem(window_, id); }
  HMENU PopupMenu() const { return popupMenu_.get(); }
  TrayIcon& TrayI() { return *tray_; }
  Monitor& monitor() { return session_->monitor(); }
  Win32MainLoop& loop() { return *loop_; }
  HCURSOR screenCursor() const { return screenCursor_; }
  COLORREF homeColour() const { return homeColour_; }
  const EventNotice& eventNotice() const { return *eventNotice_; }
  const FrameFailureBox& frameFailureBox() const { return *frameFailureBox_; }

  // Replaceable for tests: the modal message box (text, caption, MB_ flags; the answer), the
  // shell's "open", the directory chooser and the balloon (title, text, icon, seconds, and
  // whether it changes the text of the one showing).
  std::function<int(const std::string&, const std::string&, UINT)> messageBox;
  std::function<void(const std::string&)> openUrl;
  std::function<std::optional<std::string>()> chooseDirectory;
  std::function<void(const std::string&, const std::string&, BalloonIcon, int, bool)> showBalloon;

  // Window-wide state; the monitoring state lives in the monitor.
  bool ExitRequested = false;
  OsVersion OSVersion;

 private:
  // Runs a handler so that no exception leaves it into the system's frames.
  template <typename Handler>
  void guarded(Handler&& handler) noexcept {
    try {
      try {
        handler();
      } catch (const std::exception& e) {
        showFailure(e.what());
      } catch (...) {
        showFailure("Unknown failure");
      }
    } catch (...) {
      // The box itself failed; there is nothing left to report through.
    }
  }

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR form);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void onCommand(int id, int code);
  void onTray(LPARAM event);
  LRESULT onColour(HDC dc, HWND control);
  void onDrawThumbnail(const DRAWITEMSTRUCT& item);
  void onDpiChanged(UINT dpi, const RECT& suggested);

  void createWindow();
  void createControls();
  void createTray();
  void addTrayIcon();
  void retryTrayIcon();
  // A balloon, held back while the tray menu is open and shown once it has closed.
  void balloon(const std::string& title, const std::string& text, BalloonIcon icon, int seconds,
               bool inPlace = false);
  void onEscapeOrEnter(int id);
  void createFonts();
  void loadGlyphs();
  void layoutControls();
  int px(int units) const;
  void closeWindow();
  void minimizeApplication();
  void showPopupMenu();
  void paintThumbnailWhite();
  void setText(ControlId id, const std::string& text);
  void setScreenCursor(LPCWSTR cursor);
  void rememberFocus();
  void restoreFocus();
  void moveFocus(WPARAM target, LPARAM direct);

  // MonitorView: the controls.
  void showCameraList(const std::vector<std::string>& entries, std::int32_t selected,
                      bool enabled) override;
  void showCameraSelection(std::int32_t selected) override;
  void showMonitoringState(bool monitoring) override;
  void showFrameSize(std::int32_t width, std::int32_t height) override;
  void showPeak(std::uint8_t r, std::uint8_t g, std::uint8_t b) override;
  void showThumbnail(const FrameBitmap& thumbnail) override;
  void showFramesLastMinute(std::int32_t frames) override;
  void showUpTime(const std::string& text) override;
  void showEventCount(std::int32_t count) override;
  void showEventsPerDay(const std::string& text) override;
  void appendLogLine(const std::string& line) override;
  void showDirectory(const std::string& label) override;
  UserOptions userOptions() const override;
  void showUserOptions(const UserOptions& options) override;
  void setBusy(bool busy) override;
  void showMessage(MessageKind kind, const std::string& text) override;
  void showFrameFailure(const std::string& text, std::function<void()> closed) override;
  void showEventNotice() override;
  void playEventSound() override;

  // EventSink: the balloons of the camera and the light.
  void cameraLost(const std::string& camera, const std::string& why) override;
  void lightLeakStarted() override;

  MainFormSetup setup_;
  SingleInstance InstanceMutex;
  bool terminated_ = false;
  bool shownBefore_ = false;  // centred on the screen the first time only
  bool menuOpen_ = false;
  HWND window_ = nullptr;  // destroyed by the close path, or with the object
  HWND focus_ = nullptr;   // the control focused when the window was last left
  UINT dpi_ = 96;
  UINT taskbarCreated_ = 0;         // the message Explorer broadcasts when it starts again
  HCURSOR screenCursor_ = nullptr;  // the cursor over the whole window; nullptr: each its own
  COLORREF homeColour_ = RGB(0, 0, 255);
  int logBlockStart_ = -1;  // first line of the log block not yet ended
  int trayTries_ = 0;       // NIM_ADD tries since the first one failed
  // A balloon that came while the tray menu was open: title, text, icon, seconds.
  struct HeldBalloon {
    std::string title, text;
    BalloonIcon icon;
    int seconds;
  };
  std::optional<HeldBalloon> heldBalloon_;

  std::vector<GdiObject<HFONT>> fonts_;        // normal, bold, log, about, about bold, link
  std::vector<IconHandle> icons_;              // the glyphs at this DPI; see loadGlyphs
  std::vector<ImageListHandle> buttonImages_;  // the glyph buttons' pictures at this DPI
  std::vector<GdiObject<HBITMAP>> menuImages_;
  IconHandle appIcon_, appIconSmall_;
  GdiObject<HBITMAP> thumbPicture_;    // ThumbI's own 64 x 64 picture, a DIB section
  std::uint8_t* thumbBits_ = nullptr;  // its pixels, owned by thumbPicture_
  SIZE thumbSize_{64, 64};
  std::unique_ptr<std::remove_pointer_t<HMENU>, BOOL(WINAPI*)(HMENU)> popupMenu_{nullptr,
                                                                                 &::DestroyMenu};

  // The loop outlives the monitor and its capture object, which detaches from it when
  // disposed; the boxes and the balloon go before both.
  std::unique_ptr<Win32MainLoop> loop_;
  std::unique_ptr<MonitorSession> session_;
  std::unique_ptr<StationPage> stationPage_;  // serves from the first "History…" until close
  std::unique_ptr<TrayIcon> tray_;
  std::unique_ptr<EventNotice> eventNotice_;
  std::unique_ptr<FrameFailureBox> frameFailureBox_;
  std::unique_ptr<LoopTimer> trayRetry_;  // the loop's, so it goes before the loop
};

}  // namespace ravdel
