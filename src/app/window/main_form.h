#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/platform/power_events.h"
#include "app/window/tray_balloon.h"
#include "base/frame_bitmap.h"
#include "capture/capture_device.h"
#include "capture/main_loop.h"
#include "monitor/monitor.h"
#include "platform/os_release.h"
#include "platform/single_instance.h"
#include "session/monitor_session.h"
#include "web/station_page.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QImage;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSpinBox;
class QSystemTrayIcon;
class QTimer;
class QToolButton;
class QUrl;

namespace ravdel {

class EventNotice;
class EventSound;
class LinkLabel;
class QtMainLoop;
class TVideoImage;

// What the window is started with. The program passes the real ones; tests a fake camera and
// files of their own.
// The maker's site and support address; a build may set its own (see the README).
QString makerSite();
QString supportMail();

struct MainFormSetup {
  CaptureBackend* backend = nullptr;  // not owned; must outlive the window
  std::string settingsPath;
  std::string defaultDirectory;  // the program's folder, ending with '/'
  std::string instanceLockPath;  // empty: the per-user default
  // Done only once this instance knows it is the only one: a warning about the camera list
  // to show, and the default directory to create when it does not exist.
  std::string startupWarning;
  bool createDefaultDirectory = false;
};

// The one window of the program, a view over the monitoring sequence: its handlers forward to
// the monitor, which shows its results through the window's controls. It owns every
// long-lived object. Everything here runs on the GUI thread; frames arrive there too.
class TMainForm final : public QWidget, private MonitorView, private EventSink {
 public:
  static constexpr int kClientWidth = 242;
  static constexpr int kClientHeight = 267;

  explicit TMainForm(const MainFormSetup& setup, QWidget* parent = nullptr);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // A second instance: start-up stopped at the instance lock and the program is to end at once,
  // silently.
  bool terminated() const { return terminated_; }

  // Start-up: the instance lock, the settings, the capture object, the camera list.
  void FormCreate();
  // After start-up: the window stays hidden behind the tray icon, unless there is no
  // notification area to open it from.
  void ShowAtStart();
  void FormCloseQuery(bool& canClose);
  void FormClose();
  // The end of the session (or a termination signal): leave through the normal close path.
  void QueryEndSession();
  // Suspend and resume: the minute tick pauses while the machine sleeps and comes back
  // three seconds after it wakes, if monitoring runs. Capture and counters are left alone.
  void OnPowerEvent(PowerEvent event);

  void FillCameraList();
  void UpdateSBClick();
  void CamLstCBChange();
  void RunSBClick();
  void StopSBClick();
  void StopMonitoring();
  void DirSBClick();
  void SaveSetSBClick();
  void ExitSBClick();
  // The tray icon and its menu.
  void TrayIClick();
  void RestoreClick();
  void MinimizeClick();
  // Opens the detection options; OK saves them and hands them to the monitor for the next Run.
  void DetectionOptionsClick();
  // Opens the station network's settings; OK saves them and starts the station's outputs anew.
  void NetworkOptionsClick();
  // Opens the station's own page, from its local history, in the desktop's browser.
  void HistoryClick();
  void QuitClick();
  // The links of the about area.
  void HomeLMouseMove();
  void HomeLMouseLeave();
  void HomeLClick();
  void MailLMouseMove();
  void MailLMouseLeave();
  void MailLClick();
  void SPMTimerTimer();
  // The frame event of the capture object; the arguments are those of OnNewVideoFrame and
  // unused: the picture comes from GetBitmap.
  void OnNewFrame();
  void RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r);

  Monitor& monitor() { return session_->monitor(); }
  const Monitor& monitor() const { return session_->monitor(); }
  TVideoImage* captureObject() { return monitor().captureObject(); }
  const EventRecords& records() const { return monitor().records(); }
  const std::string& settingsPath() const { return session_->settingsPath(); }

  // Where each recorded event's balloon goes; the tray icon by default.
  std::function<void(const BalloonRequest&)> showEventBalloon;
  // Opens a web or mail link; the desktop's handler by default. Its answer is ignored.
  std::function<void(const QUrl&)> openUrl;

  // Controls, named as their objectName.
  QComboBox* CamLstCB = nullptr;
  QToolButton* UpdateSB = nullptr;
  QToolButton* RunSB = nullptr;
  QToolButton* StopSB = nullptr;
  QLabel* ThumbI = nullptr;
  QLabel* SourceNL = nullptr;
  QLabel* SourceXYL = nullptr;
  QLabel* RedL = nullptr;
  QLabel* GreenL = nullptr;
  QLabel* BlueL = nullptr;
  QLabel* SPMNL = nullptr;
  QLabel* SPML = nullptr;
  QLabel* UpTimeL = nullptr;
  QLabel* EvsL = nullptr;
  QLabel* EPDNL = nullptr;
  QLabel* EPDL = nullptr;
  QLabel* LimitNL = nullptr;
  QSpinBox* LimitUD = nullptr;  // its edit field is LimitE
  QCheckBox* SoundCB = nullptr;
  QCheckBox* InverseCB = nullptr;
  QCheckBox* GrayCB = nullptr;
  QLabel* DirectoryL = nullptr;
  QToolButton* DirSB = nullptr;
  QToolButton* SaveSetSB = nullptr;
  QToolButton* ExitSB = nullptr;
  QPlainTextEdit* LogM = nullptr;
  QGroupBox* AboutGB = nullptr;
  QLabel* LogoI = nullptr;
  QLabel* NameL = nullptr;
  QLabel* AuthorL = nullptr;
  QLabel* VersionL = nullptr;
  QLabel* OSI = nullptr;
  QLabel* OSL = nullptr;
  QLabel* WebI = nullptr;
  LinkLabel* HomeL = nullptr;
  QLabel* MailI = nullptr;
  LinkLabel* MailL = nullptr;
  LoopTimer* SPMTimer = nullptr;     // the monitor's minute tick
  LoopTimer* ResumeTimer = nullptr;  // single shot: the delayed half of a resume
  QSystemTrayIcon* TrayI = nullptr;
  QMenu* PopupMenu = nullptr;
  QAction* Restore = nullptr;
  QAction* Minimize = nullptr;
  QAction* DetectionOptions = nullptr;
  QAction* NetworkOptions = nullptr;
  QAction* History = nullptr;
  QAction* Quit = nullptr;

  // Window-wide state; the monitoring state lives in the monitor.
  bool ExitRequested = false;
  OsVersion OSVersion;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void createControls();
  void createAboutArea();
  void fitToFont();
  QString longestText(const QLabel* label) const;
  void createTray();
  void minimizeApplication();
  bool inTray() const;
  void connectHandlers();
  void paintThumbnailWhite();
  void runStartupTasks(const MainFormSetup& setup);

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
  bool shownBefore_ = false;              // centred on the screen the first time only
  std::unique_ptr<QImage> thumbPicture_;  // ThumbI's own 64 x 64 picture
  std::unique_ptr<EventSound> sound_;     // made at the first sound, not at start-up
  int logBlockStart_ = -1;                // first block of the log lines not yet ended
  // The loop outlives the monitor and its capture object, which detaches from it when
  // disposed. The capture object is disposed by FormClose and freed only with the window.
  std::unique_ptr<QtMainLoop> loop_;
  std::unique_ptr<EventNotice> eventNotice_;  // on loop_'s timers: goes first
  std::unique_ptr<MonitorSession> session_;
  std::unique_ptr<StationPage> stationPage_;  // serves from the first "History…" until close
};

}  // namespace ravdel
