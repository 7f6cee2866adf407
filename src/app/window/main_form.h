#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/platform/os_release.h"
#include "app/platform/single_instance.h"
#include "capture/capture_device.h"
#include "capture/frame_bitmap.h"
#include "detection/event_records.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QImage;
class QLabel;
class QPlainTextEdit;
class QSpinBox;
class QTimer;
class QToolButton;

namespace ravdel {

class EventSound;
class QtMainLoop;
class TVideoImage;

// What the window is started with. The program passes the real ones; tests a fake camera and
// files of their own.
struct MainFormSetup {
  CaptureBackend* backend = nullptr;  // not owned; must outlive the window
  std::string settingsPath;
  std::string defaultDirectory;  // the program's folder, ending with '/'
  std::string instanceLockPath;  // empty: the per-user default
};

// The one window of the program. It owns every long-lived object: the capture object, the
// frame copy, the counters. Everything here runs on the GUI thread; frames arrive there too.
class TMainForm final : public QWidget, private EventDisplay {
 public:
  static constexpr int kClientWidth = 242;
  static constexpr int kClientHeight = 267;
  static constexpr int kMinuteMs = 60000;

  explicit TMainForm(const MainFormSetup& setup, QWidget* parent = nullptr);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // A second instance: start-up stopped at the instance lock and the program is to end at once,
  // silently.
  bool terminated() const { return terminated_; }

  // Start-up: the instance lock, the settings, the capture object, the camera list.
  void FormCreate();
  void FormCloseQuery(bool& canClose);
  void FormClose();

  void FillCameraList();
  void UpdateSBClick();
  void CamLstCBChange();
  void RunSBClick();
  void StopSBClick();
  void StopMonitoring();
  void SaveSetSBClick();
  void ExitSBClick();
  void SPMTimerTimer();
  // The frame event of the capture object; the arguments are those of OnNewVideoFrame and
  // unused: the picture comes from GetBitmap.
  void OnNewFrame();
  void RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r);

  TVideoImage* captureObject() { return capture_.get(); }
  const EventRecords& records() const { return records_; }
  const std::string& settingsPath() const { return settingsPath_; }

  // The tray's balloon for each recorded event (title, text); the tray icon fills this in.
  std::function<void(const QString& title, const QString& text)> showEventBalloon;

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
  QLabel* NameL = nullptr;
  QLabel* VersionL = nullptr;
  QLabel* OSL = nullptr;
  QTimer* SPMTimer = nullptr;

  // Window-wide state.
  FrameBitmap WorkBitmap;
  std::recursive_mutex FrameLock;
  bool CaptureReady = false;
  bool Running = false;
  bool ExitRequested = false;
  bool FrameBusy = false;
  bool LensCheckPending = false;
  OsVersion OSVersion;
  std::string OutputDirectory;
  std::int32_t CameraIndex = 0;
  std::int32_t CameraCount = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  void connectHandlers();
  void paintThumbnailWhite();
  void showThumbnail(const FrameBitmap& thumbnail);
  void selectCameraIndex();
  void setMonitoringControls(bool monitoring);
  void plainMessage(const QString& text);

  // EventDisplay: where RecordEvent shows its results.
  void showEventCount(std::int32_t count) override;
  void showEventsPerDay(const std::string& text) override;
  void appendLogLine(const std::string& line) override;

  CaptureBackend& backend_;
  std::string settingsPath_;
  std::string defaultDirectory_;
  SingleInstance InstanceMutex;
  bool terminated_ = false;
  LocaleSeparators separators_;
  EventRecords records_;
  std::unique_ptr<QImage> thumbPicture_;  // ThumbI's own 64 x 64 picture
  std::unique_ptr<EventSound> sound_;     // made at the first sound, not at start-up
  // The loop outlives the capture object, which detaches from it when it goes.
  std::unique_ptr<QtMainLoop> loop_;
  std::unique_ptr<TVideoImage> capture_;
};

}  // namespace ravdel
