#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/frame_bitmap.h"
#include "capture/capture_device.h"
#include "capture/main_loop.h"
#include "detection/event_records.h"
#include "detection/hot_pixel_mask.h"
#include "detection/light_leak_guard.h"
#include "monitor/event_sink.h"
#include "monitor/monitor_view.h"
#include "monitor/repeated_failures.h"
#include "monitor/settings.h"

namespace ravdel {

class ImageWriteError;
class TVideoImage;

// Which entry of the camera's format table Run streams.
struct FormatChoice {
  enum class Kind { last, index, size };
  Kind kind = Kind::last;  // the last entry: the table is sorted by width, then height
  std::int32_t index = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::optional<std::uint32_t> fourcc;  // with `size`: this format only
};

struct MonitorConfig {
  FormatChoice format;
  // A camera that drops out (gone, its stream ended, or silent) is reopened by name with
  // growing back-off, the counters kept. Off: monitoring goes on with no frames.
  bool recoverLostCamera = false;
  // Each run's first frames calibrate a mask of hot pixels and count no events; then masked
  // pixels are left out of the peak search, and a pixel that keeps being the peak joins them.
  // Off: every pixel counts, as it always has.
  bool hotPixelMask = false;
  // Counting pauses while the frame mean says light leaks through the tape; paused time is
  // not live time. Off: every frame counts.
  bool lightLeakGuard = false;
  LightLeakGuard::Settings lightLeak{};
  // Each event also reports its frame's clusters, their pixels above this level. None: no
  // cluster is looked for.
  std::optional<std::uint8_t> clusterLevel{};
  // Who reads the settings file, and the keys its command line gave instead: Open says what it
  // could not use of the rest.
  SettingReaders settingsReader = kReadByWindows;
  std::vector<const SettingKey*> settingsGiven{};
  // The clock's error bound where the system does not know it (Windows; an unsynchronised
  // clock), for the interval of each hit.
  std::int64_t clockErrorUs = 100000;
};

// `config` with the detection options of the settings file (or of the command line) set.
MonitorConfig withDetection(MonitorConfig config, const DetectionSettings& detection);

// The message as the failure box shows it: a full stop is appended when the last character
// sorts after "." (a letter or a digit, say); "Failed." and "Failed!" stay as they are.
std::string failureText(std::string_view message);

// The monitoring sequence of every front end: the camera list, Run and Stop, the analysis of
// each frame, event records and counters, the minute tick, the pause while the machine
// sleeps, the settings file. It shows what it does through a MonitorView and gets its timers
// and message pumping from the main loop. Everything here runs on the main thread.
class Monitor final : private EventDisplay {
 public:
  static constexpr int kMinuteMs = 60000;
  static constexpr int kResumeDelayMs = 3000;
  static constexpr int kWatchdogMs = 1000;
  static constexpr int kSilenceMs = 5000;     // at least; or ten frame periods
  static constexpr int kFirstRetryMs = 1000;  // doubling up to kLastRetryMs
  static constexpr int kLastRetryMs = 60000;

  // None of the three is owned; all must outlive the monitor.
  Monitor(CaptureBackend& backend, MainLoop& loop, MonitorView& view, MonitorConfig config = {});
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  // Start-up: the default output directory, the settings file, the capture object, the camera
  // list with the remembered camera selected, and CaptureReady.
  void Open(const std::string& settingsPath, const std::string& defaultDirectory);
  // Shutdown under FrameLock: capture stopped if it runs, the capture object disposed.
  void Close();

  // `sink` hears of runs, events, minutes, the camera and light leaks from now on, after the
  // sinks added before it. Not owned; it must outlive the monitor or be removed first.
  void addSink(EventSink& sink);
  void removeSink(EventSink& sink);

  void FillCameraList();
  void UpdateSBClick();
  // The user picked list position `position`.
  void CamLstCBChange(std::int32_t position);
  // True when monitoring started; a failed start has shown its message.
  bool RunSBClick();
  void StopSBClick();
  void StopMonitoring();
  // Throws SettingsWriteError when the file cannot be written.
  void SaveSetSBClick();
  // The output directory made when missing and cleared of the temporary files a killed run
  // left there (each said as a note); then why no picture can be stored in it, if so. Run
  // does this and notes the reason; a front end may ask before.
  std::optional<std::string> prepareOutputDirectory();
  // The directory chooser's answer, with its trailing separator.
  void SetOutputDirectory(const std::string& directory);
  void SPMTimerTimer();
  // New detection options: the next Run starts with them; a run keeps those it started with.
  void setDetection(const DetectionSettings& detection);
  // The machine goes to sleep: the minute tick pauses. It wakes: the tick comes back
  // kResumeDelayMs later if monitoring runs. Capture and the counters are left alone.
  void Suspend();
  void Resume();

  // The capture object's frame event.
  void OnNewFrame();
  void RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r);

  TVideoImage* captureObject() { return capture_.get(); }
  const TVideoImage* captureObject() const { return capture_.get(); }
  const EventRecords& records() const { return records_; }
  LoopTimer& SPMTimer() { return *spmTimer_; }
  LoopTimer& ResumeTimer() { return *resumeTimer_; }
  std::int32_t selectedCamera() const { return selected_; }
  const std::vector<std::string>& cameraEntries() const { return entries_; }
  bool cameraLost() const { return lost_; }
  MonitorStatus status() const;
  const MonitorConfig& config() const { return config_; }
  // Frames analysed since the last Run.
  std::int64_t framesSinceRun() const { return framesSinceRun_; }

  // State of the sequence, named as the window's state always was.
  FrameBitmap WorkBitmap;
  bool CaptureReady = false;
  bool Running = false;
  bool FrameBusy = false;
  bool LensCheckPending = false;
  std::string OutputDirectory;
  std::int32_t CameraIndex = 0;
  std::int32_t CameraCount = 0;

 private:
  using SteadyClock = std::chrono::steady_clock;

  void selectCameraIndex();
  void setMonitoringControls(bool monitoring);
  void enableMinuteTimer();
  void resetStatistics();
  void logFormats();
  bool streamChosenFormat();
  void sayCameraBack();
  std::filesystem::path outputFolder() const;
  std::string shownOutputDirectory() const;
  std::optional<std::string> remakeOutputDirectory();
  void reportPictureNotWritten(const ImageWriteError& e);
  std::int32_t chooseFormat() const;
  std::string whyNoStart() const;
  void reportFrameFailure(const std::string& message);
  // What the user has set, as the analysis of a frame (or the start of a run) takes it.
  UserOptions readOptions();
  void tellRunStarted();
  // The interval in which the hit of the frame just analysed struck.
  HitTime currentHitTime() const;
  void tellRunStopped();
  template <typename Call>
  void tellSinks(Call&& call);
  void showThumbnailOf(const FrameBitmap& frame);
  // With hotPixelMask: counts WorkBitmap toward the calibration and puts the mask into
  // `options`. True when this frame belongs to the calibration.
  bool calibrateHotPixels(AnalysisOptions& options);
  void learnHotPixel(const PeakPixel& peak);
  // With lightLeakGuard: whether this frame, of mean `mean`, may count an event.
  bool guardAgainstLeak(double mean);
  // The mask of this camera and format, kept beside the settings file from run to run.
  void startHotPixelMask();
  void saveHotPixelMask();

  // A camera that drops out (with recoverLostCamera).
  void watchCamera();
  void loseCamera(const std::string& why);
  void reopenCamera();
  std::int32_t sameFormatIndex() const;
  void retryLater();
  void startLiveTime();
  void stopLiveTime();

  // EventDisplay: the event's results go to the view; the rate is remembered for the status.
  void showEventCount(std::int32_t count) override;
  void showEventsPerDay(const std::string& text) override;
  void appendLogLine(const std::string& line) override;

  CaptureBackend& backend_;
  MainLoop& loop_;
  MonitorView& view_;
  std::vector<EventSink*> sinks_;  // not owned
  // Brackets one frame's analysis and the capture's disposal. Main thread only, recursive: a
  // close can come while a frame handler pumps the loop.
  std::recursive_mutex FrameLock;
  MonitorConfig config_;                            // changes only as a Run starts
  std::optional<DetectionSettings> nextDetection_;  // for the next Run
  std::string settingsPath_;
  LocaleSeparators separators_;
  EventRecords records_;
  EventPictures pictures_;
  std::unique_ptr<TVideoImage> capture_;
  std::unique_ptr<LoopTimer> spmTimer_;
  std::unique_ptr<LoopTimer> resumeTimer_;
  std::unique_ptr<LoopTimer> watchdogTimer_;
  std::unique_ptr<LoopTimer> reopenTimer_;
  RepeatedFailures maskFailures_;  // writing the hot-pixel mask, said to the view

  std::vector<std::string> entries_;  // the camera list as shown
  std::int32_t selected_ = -1;
  std::uint64_t stops_ = 0;      // StopMonitoring calls: a Run notices one during its pump
  bool runTold_ = false;         // the sinks heard of a run starting and not yet of its end
  bool failureShowing_ = false;  // the failure box is open: further frame failures are logged
  std::int32_t picturesNotWritten_ = 0;  // this run's: the first was boxed, the others logged

  // The current run.
  std::string runId_;
  std::int64_t seq_ = 0;  // events recorded in the run
  std::string cameraName_;
  std::string cameraPath_;  // the camera's own path, to reopen the very device
  std::int32_t formatIndex_ = -1;
  VideoFormat runFormat_;  // the entry it streams
  std::int64_t framesSinceRun_ = 0;
  UserOptions frameOptions_;           // of the frame being analysed
  PeakPixel lastPeak_;                 // of the frame being analysed
  std::vector<Cluster> lastClusters_;  // of the frame being analysed, with clusterLevel
  LightLeakGuard leakGuard_;           // with config_.lightLeakGuard
  SteadyClock::time_point runStart_;   // the guard's clock, which runs on through a pause
  HotPixelMasking masking_;            // with config_.hotPixelMask
  std::string maskPath_;               // where masking_'s mask is kept
  std::string eventsPerDay_ = "-";     // as shown
  std::int32_t lastMinuteFrames_ = 0;  // SPM as shown: the last whole minute's
  std::optional<double> lensMean_;
  std::chrono::milliseconds live_{0};
  std::optional<SteadyClock::time_point> liveSince_;
  SteadyClock::duration leakPaused_{};  // of the run, by the light-leak guard
  std::optional<SteadyClock::time_point> leakPausedSince_;
  bool lost_ = false;
  bool awaitingFrames_ = false;  // reopened: "back" once frames flow again
  int retryMs_ = kFirstRetryMs;
  std::uint64_t framesSeen_ = 0;
  SteadyClock::time_point lastFrameAt_;
  double framePeriodMs_ = 0;
};

}  // namespace ravdel
