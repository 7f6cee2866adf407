#include "monitor/monitor.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <utility>

#include "base/fourcc.h"
#include "capture/video_image.h"
#include "convert/frame_converter.h"
#include "detection/frame_analysis.h"
#include "detection/png_writer.h"
#include "monitor/hit_time.h"
#include "monitor/settings.h"
#include "platform/files.h"

namespace ravdel {
namespace {

// The hourglass with one pass of the loop on each side, so that it shows and goes. Restores
// the cursor on the way out, also when the start or stop throws.
class BusyCursor {
 public:
  BusyCursor(MonitorView& view, MainLoop& loop) : view_(view), loop_(loop) {
    view_.setBusy(true);
    loop_.processEvents();
  }
  ~BusyCursor() { restore(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
  void restore() {
    if (active_) view_.setBusy(false);
    active_ = false;
  }

 private:
  MonitorView& view_;
  MainLoop& loop_;
  bool active_ = true;
};

// Clears a flag on the way out, also when the analysis throws part-way.
class FlagReset {
 public:
  explicit FlagReset(bool& flag) : flag_(flag) {}
  ~FlagReset() { flag_ = false; }
  FlagReset(const FlagReset&) = delete;
  FlagReset& operator=(const FlagReset&) = delete;

 private:
  bool& flag_;
};

// The table's code of a format as frames carry it (uncompressed RGB is 0 there).
std::uint32_t streamCode(const VideoFormat& format) {
  return format.fourcc == kRgbCapabilityCode ? fourcc::kRgb : format.fourcc;
}

bool convertible(const VideoFormat& format) {
  return requiredSampleBytes(streamCode(format), format.width, format.height) != -2;
}

bool matches(const VideoFormat& format, const FormatChoice& choice) {
  if (format.width != choice.width || format.height != choice.height) return false;
  return !choice.fourcc || streamCode(format) == *choice.fourcc;
}

// "number 7", "320x240" or "320x240/I420", as the user asked for it.
std::string describe(const FormatChoice& choice) {
  if (choice.kind == FormatChoice::Kind::index) return "number " + std::to_string(choice.index);
  std::string text = std::to_string(choice.width) + "x" + std::to_string(choice.height);
  if (choice.fourcc) text += "/" + printableFourcc(*choice.fourcc);
  return text;
}

}  // namespace

MonitorConfig withDetection(MonitorConfig config, const DetectionSettings& detection) {
  config.hotPixelMask = detection.hotPixelMask;
  config.lightLeakGuard = detection.lightLeakGuard;
  config.lightLeak.level = detection.leakLevel;
  config.clusterLevel.reset();
  if (detection.clusters) config.clusterLevel = static_cast<std::uint8_t>(detection.clusterLevel);
  return config;
}

std::string failureText(std::string_view message) {
  std::string text(message);
  // Compared as unsigned bytes, so the tail of a UTF-8 character counts as after ".".
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text += '.';
  }
  return text;
}

Monitor::Monitor(CaptureBackend& backend, MainLoop& loop, MonitorView& view, MonitorConfig config)
    : backend_(backend),
      loop_(loop),
      view_(view),
      config_(std::move(config)),
      separators_(currentLocaleSeparators()),
      maskFailures_([this](const std::string& text) { view_.showNote(text); }) {
  spmTimer_ = loop_.createTimer([this] { SPMTimerTimer(); }, kMinuteMs, false);
  resumeTimer_ = loop_.createTimer(
      [this] {
        if (Running) enableMinuteTimer();
      },
      kResumeDelayMs, true);
  watchdogTimer_ = loop_.createTimer([this] { watchCamera(); }, kWatchdogMs, false);
  reopenTimer_ = loop_.createTimer([this] { reopenCamera(); }, kFirstRetryMs, true);
}

Monitor::~Monitor() {
  try {
    Close();
  } catch (...) {
  }
}

void Monitor::Open(const std::string& settingsPath, const std::string& defaultDirectory) {
  settingsPath_ = settingsPath;
  Running = false;
  OutputDirectory = defaultDirectory;

  for (const std::string& warning :
       settingsWarnings(settingsPath_, config_.settingsReader, config_.settingsGiven)) {
    view_.showNote(warning);
  }
  const Settings settings = LoadSettings(settingsPath_, OutputDirectory);
  view_.showUserOptions({settings.limit, settings.sound, settings.inverse, settings.gray});
  OutputDirectory = settings.directory;  // separator rule applied by LoadSettings
  view_.showDirectory(directoryLabel(OutputDirectory));
  CameraIndex = settings.cam;

  capture_ = std::make_unique<TVideoImage>(backend_, loop_);
  capture_->OnError = [this](const std::string& message) { reportFrameFailure(message); };
  FillCameraList();
  if (CameraCount > 0) selectCameraIndex();
  capture_->OnNewVideoFrame = [this](TVideoImage&, std::int32_t, std::int32_t,
                                     const std::uint8_t*) { OnNewFrame(); };
  WorkBitmap = FrameBitmap();
  CaptureReady = true;
}

void Monitor::Close() {
  std::lock_guard lock(FrameLock);
  watchdogTimer_->stop();
  reopenTimer_->stop();
  if (!CaptureReady) return;
  // Whenever a camera is open, not only while Running: an exit can come during the pump of a
  // Run, before Running is set, and the capture thread must not write into freed slots.
  if (capture_->isOpen()) capture_->VideoStop();
  stopLiveTime();
  tellRunStopped();
  capture_->Dispose();
  // The object itself goes with the monitor: an exit can arrive while a frame handler pumps
  // the loop (its message boxes, its last pump), and that handler still runs inside it.
  CaptureReady = false;
}

void Monitor::addSink(EventSink& sink) {
  sinks_.push_back(&sink);
}

void Monitor::removeSink(EventSink& sink) {
  std::erase(sinks_, &sink);
}

template <typename Call>
void Monitor::tellSinks(Call&& call) {
  for (EventSink* sink : sinks_)
    call(*sink);
}

UserOptions Monitor::readOptions() {
  return view_.userOptions();
}

void Monitor::FillCameraList() {
  CameraCount = 0;
  std::vector<std::string> names;
  capture_->GetListOfDevices(names);
  CameraCount = static_cast<std::int32_t>(names.size());
  if (CameraCount <= 0) {
    entries_ = {"---"};
    selected_ = -1;
    view_.showCameraList(entries_, selected_, false);
    return;
  }
  entries_ = std::move(names);
  selected_ = 0;  // the fresh list selects its first entry
  view_.showCameraList(entries_, selected_, true);
}

void Monitor::selectCameraIndex() {
  // A remembered position outside the list selects nothing; Run then names "#0".
  const auto count = static_cast<std::int32_t>(entries_.size());
  selected_ = CameraIndex >= 0 && CameraIndex < count ? CameraIndex : -1;
  view_.showCameraSelection(selected_);
}

void Monitor::UpdateSBClick() {
  FillCameraList();
  if (CameraCount > 0) selectCameraIndex();
}

void Monitor::CamLstCBChange(std::int32_t position) {
  selected_ = position;
  CameraIndex = position;
}

void Monitor::setMonitoringControls(bool monitoring) {
  view_.showMonitoringState(monitoring);
}

void Monitor::resetStatistics() {
  records_.resetForRun();
  view_.showUpTime(formatUpTime(0));
  showEventCount(0);
  showEventsPerDay("-");
  enableMinuteTimer();
}

void Monitor::logFormats() {
  std::vector<std::string> formats;
  capture_->GetListOfFormats(formats);
  for (const auto& format : formats)
    view_.appendLogLine(format);
  view_.appendLogLine("");  // the block ends with an empty line
}

std::int32_t Monitor::chooseFormat() const {
  const std::vector<VideoFormat> table = capture_->formatTable();
  const auto count = static_cast<std::int32_t>(table.size());
  switch (config_.format.kind) {
    case FormatChoice::Kind::last:
      // The last entry we can convert: a format that only ever gives the notice would leave
      // every frame blind.
      for (std::int32_t i = count - 1; i >= 0; --i) {
        if (convertible(table[static_cast<std::size_t>(i)])) return i;
      }
      return -1;
    case FormatChoice::Kind::index:
      return config_.format.index < count ? config_.format.index : -1;
    case FormatChoice::Kind::size:
      // The last match: of equal sizes, the table's order decides as it does for "last".
      for (std::int32_t i = count - 1; i >= 0; --i) {
        if (matches(table[static_cast<std::size_t>(i)], config_.format)) return i;
      }
      return -1;
  }
  return count - 1;
}

void Monitor::setDetection(const DetectionSettings& detection) {
  nextDetection_ = detection;
}

bool Monitor::RunSBClick() {
  if (nextDetection_) {
    config_ = withDetection(config_, *nextDetection_);
    nextDetection_.reset();
  }
  BusyCursor busy(view_, loop_);
  LensCheckPending = true;
  const std::string device = "#" + std::to_string(selected_ + 1);
  bool started = capture_->VideoStart(device) == 0;
  if (!started) view_.showNote(whyNoStart());

  // The statistics start afresh whether or not the camera runs.
  resetStatistics();
  framesSinceRun_ = 0;
  lensMean_.reset();
  live_ = std::chrono::milliseconds(0);
  liveSince_.reset();
  leakPaused_ = SteadyClock::duration::zero();
  leakPausedSince_.reset();
  lost_ = false;
  awaitingFrames_ = false;

  logFormats();
  formatIndex_ = chooseFormat();
  if (started) started = streamChosenFormat();
  picturesNotWritten_ = 0;
  if (started) {
    if (const std::optional<std::string> problem = prepareOutputDirectory())
      view_.showNote(*problem);
  }
  if (started && config_.hotPixelMask) startHotPixelMask();
  leakGuard_ = LightLeakGuard(config_.lightLeak);
  runStart_ = SteadyClock::now();
  cameraName_ = capture_->deviceName();
  cameraPath_ = capture_->devicePath();
  if (started) runFormat_ = capture_->formatTable()[static_cast<std::size_t>(formatIndex_)];
  // Before the pump below, which analyses the first frames: one may already be an event.
  if (started) tellRunStarted();

  busy.restore();
  const std::uint64_t stopsBefore = stops_;
  loop_.processEvents();
  if (!started) {
    view_.showMessage(MessageKind::error, "Could not start monitoring!");
    return false;
  }
  // The first frames are analysed during that pass: an uncovered lens has stopped the camera
  // again and said so.
  if (stops_ != stopsBefore) return false;
  Running = true;
  setMonitoringControls(true);
  startLiveTime();
  if (config_.recoverLostCamera) {
    framesSeen_ = capture_->framesReceived();
    lastFrameAt_ = SteadyClock::now();
    framePeriodMs_ = 0;
    retryMs_ = kFirstRetryMs;
    watchdogTimer_->start();
  }
  return true;
}

// Why Run could not open the camera, for the log: no camera, a remembered position that is
// not in the list any more, or what the camera's backend says failed.
std::string Monitor::whyNoStart() const {
  if (CameraCount <= 0) return "Could not start monitoring: no camera was found.";
  if (selected_ < 0) {
    return "Could not start monitoring: no camera is selected (the saved camera, number " +
           std::to_string(CameraIndex + 1) + ", is not in the list). Choose one.";
  }
  const std::string why = capture_->startFailure();
  return "Could not open " + entries_[static_cast<std::size_t>(selected_)] +
         (why.empty() ? std::string(".") : ": " + failureText(why));
}

void Monitor::tellRunStarted() {
  runTold_ = true;
  runId_ = newRunId();
  seq_ = 0;
  const RunStart start{runId_,
                       unixMillisecondsNow() * 1000,
                       cameraName_,
                       capture_->width(),
                       capture_->height(),
                       capture_->fourcc(),
                       readOptions().eventLimit(),
                       status()};
  tellSinks([&](EventSink& sink) { sink.runStarted(start); });
}

// Once for every run the sinks heard start of, whichever way it ends.
void Monitor::tellRunStopped() {
  if (!runTold_) return;
  runTold_ = false;
  const MonitorStatus last = status();
  tellSinks([&](EventSink& sink) { sink.runStopped(last); });
}

// Switches the opened camera to the chosen entry. When there is none, or the camera cannot
// stream it (no USB bandwidth left, say), the camera is closed again and the log says why.
bool Monitor::streamChosenFormat() {
  const std::vector<VideoFormat> table = capture_->formatTable();
  std::string failure;
  if (formatIndex_ < 0) {
    failure = config_.format.kind == FormatChoice::Kind::last
                  ? "None of the camera's formats can be converted."
                  : "The camera has no format " + describe(config_.format) + ".";
  } else if (capture_->SelectFormat(formatIndex_) != 0) {
    failure = "The camera could not stream " +
              formatLine(table[static_cast<std::size_t>(formatIndex_)]) + ".";
    if (!capture_->startFailure().empty()) failure += " " + failureText(capture_->startFailure());
  }
  if (failure.empty()) return true;
  view_.showNote(failure);
  capture_->VideoStop();
  return false;
}

std::filesystem::path Monitor::outputFolder() const {
  std::filesystem::path folder = pathFromUtf8(OutputDirectory.empty() ? "." : OutputDirectory);
  if (!folder.has_filename()) folder = folder.parent_path();  // "events/" names "events"
  return folder;
}

std::string Monitor::shownOutputDirectory() const {
  return OutputDirectory.empty() ? "the current folder" : OutputDirectory;
}

// A folder that has gone (an unplugged disk, a cleaned-up folder) is made again, at Run and
// before each event's picture, and the log says so.
std::optional<std::string> Monitor::remakeOutputDirectory() {
  std::error_code error;
  const std::filesystem::path folder = outputFolder();
  if (std::filesystem::exists(folder, error)) return std::nullopt;
  if (!std::filesystem::create_directories(folder, error) && error) {
    return "The output directory " + shownOutputDirectory() +
           " is missing and cannot be created: " + error.message();
  }
  view_.showNote("Created the missing output directory " + shownOutputDirectory());
  return std::nullopt;
}

std::optional<std::string> Monitor::prepareOutputDirectory() {
  if (std::optional<std::string> problem = remakeOutputDirectory()) return problem;
  const std::string shown = shownOutputDirectory();
  const std::filesystem::path folder = outputFolder();
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return "The output directory " + shown + " is not a folder: no picture can be stored there";
  }
  const std::string path = utf8FromPath(folder);
  if (const std::size_t removed = removeLeftoverTemporaryFiles(path); removed > 0) {
    view_.showNote("Removed " + std::to_string(removed) + " temporary file" +
                   (removed == 1 ? "" : "s") + " that a program which ended left in " + shown);
  }
  if (const std::optional<std::string> why = unwritableFolderReason(path)) {
    return "The output directory " + shown + " cannot be written (" + *why +
           "): no picture can be stored there";
  }
  return std::nullopt;
}

void Monitor::enableMinuteTimer() {
  // Enabling a running timer must not restart its period.
  if (!spmTimer_->isActive()) spmTimer_->start();
}

void Monitor::Suspend() {
  spmTimer_->stop();
  resumeTimer_->stop();  // a resume still waiting when the machine sleeps again
}

void Monitor::Resume() {
  // A timer, not a sleep: the program stays responsive while the camera settles.
  resumeTimer_->start();
}

void Monitor::StopSBClick() {
  StopMonitoring();
}

void Monitor::StopMonitoring() {
  ++stops_;
  BusyCursor busy(view_, loop_);
  watchdogTimer_->stop();
  reopenTimer_->stop();
  capture_->VideoStop();
  stopLiveTime();
  lost_ = false;
  tellRunStopped();
  Running = false;
  busy.restore();
  setMonitoringControls(false);
  FillCameraList();
  if (CameraCount > 0) selectCameraIndex();
}

void Monitor::SaveSetSBClick() {
  const UserOptions options = readOptions();
  Settings settings;
  settings.sound = options.sound;
  settings.inverse = options.inverse;
  settings.gray = options.gray;
  settings.limit = static_cast<std::int16_t>(options.limit);
  settings.directory = OutputDirectory;
  settings.cam = selected_;
  SaveSettings(settingsPath_, settings);
}

void Monitor::SetOutputDirectory(const std::string& directory) {
  OutputDirectory = directory;
  view_.showDirectory(directoryLabel(OutputDirectory));
}

void Monitor::SPMTimerTimer() {
  const EventRecords::MinuteTick tick = records_.minuteTick();
  lastMinuteFrames_ = tick.framesLastMinute;
  view_.showFramesLastMinute(tick.framesLastMinute);
  view_.showUpTime(formatUpTime(tick.minutesElapsed));
  maskFailures_.flush();
  const MonitorStatus now = status();
  tellSinks([&](EventSink& sink) { sink.minuteTicked(now); });
}

MonitorStatus Monitor::status() const {
  MonitorStatus s;
  s.framesLastMinute = lastMinuteFrames_;
  s.minutesElapsed = records_.minutesElapsed();
  s.events = records_.eventCount();
  s.eventsPerDay = eventsPerDay_;
  auto live = live_;
  if (liveSince_) {
    live += std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - *liveSince_);
  }
  s.liveSeconds = static_cast<double>(live.count()) / 1000.0;
  s.framesAnalysed = static_cast<std::uint64_t>(framesSinceRun_);
  if (config_.hotPixelMask) s.maskedPixels = static_cast<std::int64_t>(masking_.mask().count());
  auto paused = leakPaused_;
  if (leakPausedSince_) paused += SteadyClock::now() - *leakPausedSince_;
  s.leakPausedSeconds = std::chrono::duration<double>(paused).count();
  if (capture_) {
    s.framesDelivered = capture_->framesReceived();
    s.droppedIdle = capture_->framesDropped();
    s.droppedBusy = capture_->notificationsWhileBusy();
    s.droppedBacklog = capture_->framesBacklogged();
  }
  return s;
}

void Monitor::showThumbnailOf(const FrameBitmap& frame) {
  if (frame.empty()) return;
  view_.showThumbnail(makeThumbnail(frame, thumbnailSize(frame.width(), frame.height())));
}

void Monitor::OnNewFrame() {
  if (FrameBusy) return;
  FrameBusy = true;
  if (!CaptureReady) {
    FrameBusy = false;
    loop_.processEvents();
    return;
  }
  // A failure part-way (an image that cannot be written) leaves the lock free and the busy
  // flag clear, so later frames are analysed and Close can take the lock.
  FlagReset busyReset(FrameBusy);
  std::unique_lock lock(FrameLock);

  records_.countFrame();
  ++framesSinceRun_;
  // Said before this frame can be an event of the returned camera.
  if (awaitingFrames_) sayCameraBack();
  capture_->GetBitmap(WorkBitmap);
  view_.showFrameSize(WorkBitmap.width(), WorkBitmap.height());
  // A sample that could not be converted (short, a damaged JPEG) shows the format notice: its
  // picture says nothing of the lens or of light, so the lens check waits for the first frame
  // that converts.
  const bool converted = !WorkBitmap.showsNotice();
  frameOptions_ = readOptions();
  AnalysisOptions analysisOptions;
  analysisOptions.limit = frameOptions_.eventLimit();
  analysisOptions.gray = frameOptions_.gray;
  analysisOptions.inverse = frameOptions_.inverse;
  analysisOptions.lensCheck = LensCheckPending && converted;
  analysisOptions.measureMean = config_.lightLeakGuard && converted;
  analysisOptions.clusterLevel = config_.clusterLevel;
  const bool calibrating = config_.hotPixelMask && calibrateHotPixels(analysisOptions);
  FrameAnalysis analysis = analyseFrame(WorkBitmap, analysisOptions);
  view_.showPeak(analysis.peak.r, analysis.peak.g, analysis.peak.b);
  lastPeak_ = analysis.peak;
  lastClusters_ = std::move(analysis.clusters);
  if (analysis.lensMean) lensMean_ = analysis.lensMean;

  if (analysis.lensUncovered) {
    // Stop and the message pump events: neither may run inside the lock or the busy frame.
    lock.unlock();
    FrameBusy = false;
    StopMonitoring();
    LensCheckPending = false;
    view_.showMessage(MessageKind::plain, "Stick a piece of duct tape over the camera lens!");
    return;
  }
  if (converted) LensCheckPending = false;

  showThumbnailOf(WorkBitmap);
  const bool counting = !analysis.frameMean || guardAgainstLeak(*analysis.frameMean);
  if (analysis.event && !calibrating && counting) {
    if (config_.hotPixelMask) learnHotPixel(analysis.peak);
    RecordEvent(analysis.peak.b, analysis.peak.g, analysis.peak.r);
  }

  lock.unlock();
  FrameBusy = false;
  loop_.processEvents();
}

bool Monitor::calibrateHotPixels(AnalysisOptions& options) {
  options.mask = &masking_.mask();
  switch (masking_.calibrate(WorkBitmap)) {
    case HotPixelMasking::Step::monitoring:
      return false;
    case HotPixelMasking::Step::calibrating:
      break;
    case HotPixelMasking::Step::calibrated:
      view_.showNote("Hot-pixel mask: " + std::to_string(masking_.mask().count()) +
                     " pixels masked");
      saveHotPixelMask();
      break;
    case HotPixelMasking::Step::tooBright:
      view_.showNote(
          "Hot-pixel mask: too many pixels were bright to be faults (light on the "
          "sensor?); calibrating again");
      break;
  }
  return true;
}

// One file per camera and format, named after them in letters and digits only.
void Monitor::startHotPixelMask() {
  const VideoFormat format = capture_->formatTable()[static_cast<std::size_t>(formatIndex_)];
  std::string name = "RVD-mask-" + capture_->deviceName() + "-" + std::to_string(format.width) +
                     "x" + std::to_string(format.height) + "-" +
                     printableFourcc(capture_->fourcc());
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && c != '-') c = '_';
  }
  maskPath_ = utf8FromPath(pathFromUtf8(settingsPath_).parent_path() / (name + ".txt"));
  HotPixelMask kept;
  std::string text;
  if (readWholeFile(maskPath_, text) == FileRead::ok && parseHotPixelMaskText(text, kept)) {
    view_.showNote("Hot-pixel mask: " + std::to_string(kept.count()) +
                   " pixels kept from an earlier run");
  }
  masking_.restart(readOptions().eventLimit(), std::move(kept));
  view_.showNote("Calibrating the hot-pixel mask: the first " +
                 std::to_string(HotPixelCalibration::Settings{}.frames) +
                 " frames count no events.");
}

// Beside the settings file, whose folder a fresh account may not have yet.
void Monitor::saveHotPixelMask() {
  makeSettingsFolder(maskPath_);
  if (!replaceFileContents(maskPath_, hotPixelMaskText(masking_.mask())))
    maskFailures_.report("Hot-pixel mask: cannot write " + maskPath_);
}

// The event still counts: the pixel is left out from the next frame on.
void Monitor::learnHotPixel(const PeakPixel& peak) {
  if (!masking_.learn(peak.x, peak.y, status().liveSeconds)) return;
  view_.showNote("Hot pixel at (" + std::to_string(peak.x) + ", " + std::to_string(peak.y) +
                 ") masked: " + std::to_string(masking_.mask().count()) + " pixels masked");
  saveHotPixelMask();
}

bool Monitor::guardAgainstLeak(double mean) {
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - runStart_).count();
  switch (leakGuard_.observe(mean, seconds)) {
    case LightLeakGuard::Change::paused:
      stopLiveTime();
      leakPausedSince_ = SteadyClock::now();
      appendLogLine("Light leak at " + logTime(localTimeNow(), separators_.time) +
                    ": counting paused until the frame is dark again");
      tellSinks([](EventSink& sink) { sink.lightLeakStarted(); });
      break;
    case LightLeakGuard::Change::resumed:
      if (leakPausedSince_) leakPaused_ += SteadyClock::now() - *leakPausedSince_;
      leakPausedSince_.reset();
      if (!lost_ && !awaitingFrames_) startLiveTime();
      appendLogLine("Light leak over at " + logTime(localTimeNow(), separators_.time) +
                    ": counting again");
      tellSinks([](EventSink& sink) { sink.lightLeakEnded(); });
      break;
    case LightLeakGuard::Change::none:
      break;
  }
  return leakGuard_.counts();
}

void Monitor::RecordEvent(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  const std::int64_t unixMs = unixMillisecondsNow();
  const LocalTime t = localTimeAt(unixMs);

  EventReport report;
  report.time = t;
  report.unixMs = unixMs;
  report.peak = lastPeak_;
  report.peak.b = b;
  report.peak.g = g;
  report.peak.r = r;
  report.limit = frameOptions_.eventLimit();
  report.width = WorkBitmap.width();
  report.height = WorkBitmap.height();
  report.fourcc = capture_->fourcc();
  report.camera = cameraName_;
  report.frame = framesSinceRun_;
  report.lensMean = lensMean_;
  report.liveSeconds = status().liveSeconds;
  if (config_.clusterLevel) report.clusters = lastClusters_;
  report.hit = currentHitTime();
  report.picture = &capture_->convertedFrame();
  report.runId = runId_;
  report.seq = ++seq_;
  // That it cannot be made again is what the picture's failure says.
  remakeOutputDirectory();
  try {
    report.file = recordEvent(records_, unixMs, r, g, b, WorkBitmap, OutputDirectory, pictures_,
                              separators_, *this);
  } catch (const ImageWriteError& e) {
    // Counted and logged already; the picture is missing, which the report says.
    tellSinks([&](EventSink& sink) { sink.eventRecorded(report); });
    reportPictureNotWritten(e);
    return;
  } catch (const std::exception&) {
    tellSinks([&](EventSink& sink) { sink.eventRecorded(report); });
    throw;
  }
  if (frameOptions_.sound) view_.playEventSound();
  view_.showEventNotice();
  tellSinks([&](EventSink& sink) { sink.eventRecorded(report); });
}

HitTime Monitor::currentHitTime() const {
  std::int64_t nominalUs = 0;
  const std::vector<VideoFormat> table = capture_->formatTable();
  if (formatIndex_ >= 0 && static_cast<std::size_t>(formatIndex_) < table.size()) {
    const FrameInterval fastest = table[static_cast<std::size_t>(formatIndex_)].fastest;
    if (fastest.known())
      nominalUs = std::int64_t{fastest.numerator} * 1000000 / fastest.denominator;
  }
  return hitTime(capture_->frameMoment(), nominalUs, systemClockState(), config_.clockErrorUs);
}

// A folder that cannot be used fails at every event: the first failure of a run gets the box,
// the others only a log line with their count, until the next Run.
void Monitor::reportPictureNotWritten(const ImageWriteError& e) {
  if (++picturesNotWritten_ == 1) return reportFrameFailure(e.what());
  view_.logPictureNotWritten(failureText(e.what()), picturesNotWritten_);
}

// A failure on the frame path goes to the failure box; while that box is open, further ones
// are logged instead of stacking boxes the user cannot get past (a folder that cannot be
// written fails at every event).
void Monitor::reportFrameFailure(const std::string& message) {
  if (failureShowing_) {
    view_.appendLogLine(failureText(message));
    return;
  }
  failureShowing_ = true;
  view_.showFrameFailure(message, [this] { failureShowing_ = false; });
}

void Monitor::showEventCount(std::int32_t count) {
  view_.showEventCount(count);
}

void Monitor::showEventsPerDay(const std::string& text) {
  eventsPerDay_ = text;
  view_.showEventsPerDay(text);
}

void Monitor::appendLogLine(const std::string& line) {
  view_.appendLogLine(line);
}

void Monitor::startLiveTime() {
  // A camera back during a light leak stays out of the live time until the leak ends.
  if (leakGuard_.paused()) return;
  if (!liveSince_) liveSince_ = SteadyClock::now();
}

void Monitor::stopLiveTime() {
  if (!liveSince_) return;
  live_ += std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - *liveSince_);
  liveSince_.reset();
}

// Once a second while monitoring: a camera that is gone, whose stream ended, or that has
// sent nothing for max(kSilenceMs, ten frame periods) has dropped out.
void Monitor::watchCamera() {
  if (!Running || lost_ || !capture_) return;
  const SteadyClock::time_point now = SteadyClock::now();
  const std::uint64_t received = capture_->framesReceived();
  if (received != framesSeen_) {
    const double sinceLast = std::chrono::duration<double, std::milli>(now - lastFrameAt_).count();
    framePeriodMs_ = sinceLast / static_cast<double>(received - framesSeen_);
    framesSeen_ = received;
    lastFrameAt_ = now;
    if (awaitingFrames_) sayCameraBack();
    return;
  }
  const double silentMs = std::chrono::duration<double, std::milli>(now - lastFrameAt_).count();
  const bool silent = silentMs >= std::max<double>(kSilenceMs, 10 * framePeriodMs_);
  if (awaitingFrames_) {
    // Reopened, but no frame yet: a try that failed after all (reopening does not wait for
    // the camera to settle), not a new loss.
    if (!capture_->isStreaming() || silent) retryLater();
    return;
  }
  if (!capture_->isStreaming()) return loseCamera("its stream ended");
  if (silent) {
    loseCamera("no frame for " + std::to_string(static_cast<long long>(silentMs / 1000)) + " s");
  }
}

// Frames flow again after a reopening: at the first one analysed, or at the watchdog's look
// when none has been analysed yet.
void Monitor::sayCameraBack() {
  awaitingFrames_ = false;
  startLiveTime();
  appendLogLine("Camera back at " + logTime(localTimeNow(), separators_.time));
  tellSinks([&](EventSink& sink) { sink.cameraBack(cameraName_); });
}

void Monitor::loseCamera(const std::string& why) {
  lost_ = true;
  awaitingFrames_ = false;
  stopLiveTime();
  capture_->VideoStop();
  appendLogLine("Camera lost at " + logTime(localTimeNow(), separators_.time) + " (" + why + ")");
  tellSinks([&](EventSink& sink) { sink.cameraLost(cameraName_, why); });
  retryMs_ = kFirstRetryMs;
  reopenTimer_->setInterval(retryMs_);
  reopenTimer_->start();
}

// Opens the lost camera again, the very device (by its path; by its name only once no device
// has that path), in the format it streamed; a failed try waits twice as long for the next, up
// to kLastRetryMs.
void Monitor::reopenCamera() {
  if (!Running || !lost_) return;
  if (capture_->VideoReopen(cameraPath_, cameraName_) == 0 &&
      capture_->SelectFormat(sameFormatIndex()) == 0) {
    lost_ = false;
    awaitingFrames_ = true;
    framesSeen_ = capture_->framesReceived();
    lastFrameAt_ = SteadyClock::now();
    return;
  }
  retryLater();
}

// The entry of the reopened camera's table in the size and code that streamed before; the
// table's last convertible one when it has none (another camera of the same name).
std::int32_t Monitor::sameFormatIndex() const {
  const std::vector<VideoFormat> table = capture_->formatTable();
  for (std::size_t i = table.size(); i-- > 0;) {
    const VideoFormat& f = table[i];
    if (f.width == runFormat_.width && f.height == runFormat_.height &&
        f.fourcc == runFormat_.fourcc)
      return static_cast<std::int32_t>(i);
  }
  return chooseFormat();
}

void Monitor::retryLater() {
  capture_->VideoStop();  // opened, but it cannot stream the format yet
  lost_ = true;
  awaitingFrames_ = false;
  retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
  reopenTimer_->setInterval(retryMs_);
  reopenTimer_->start();
}

}  // namespace ravdel
