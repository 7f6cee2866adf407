#include "headless/headless_monitor.h"

#include <optional>
#include <utility>
#include <vector>

#include "base/fourcc.h"
#include "capture/video_image.h"
#include "monitor/settings.h"

namespace ravdel {
namespace {

// The keys of the settings file whose value the command line gave instead.
std::vector<const SettingKey*> givenKeys(const HeadlessOptions& o) {
  std::vector<const SettingKey*> given;
  const auto add = [&](bool present, const SettingKey& key) {
    if (present) given.push_back(&key);
  };
  add(o.limit.has_value(), setting::limit);
  add(o.outDirectory.has_value(), setting::directory);
  add(o.camera.has_value(), setting::cam);
  add(o.leakLevel.has_value(), setting::leakLevel);
  add(o.clusterLevel.has_value(), setting::clusterLevel);
  // A switch given turns its option on, whatever the file says.
  add(o.gray, setting::gray);
  add(o.inverse, setting::inverse);
  add(o.hotPixelMask, setting::hotPixelMask);
  add(o.lightLeakGuard, setting::lightLeakGuard);
  add(o.clusters, setting::clusters);
  return given;
}

// The settings file, with the command line's format and detection options put over it.
MonitorSession::Setup sessionSetup(const HeadlessOptions& options) {
  MonitorSession::Setup setup;
  setup.settingsPath = options.settingsPath.value_or(SettingsPath());
  setup.format = options.format;
  setup.detection = detectionOptions(options, LoadDetectionSettings(setup.settingsPath));
  setup.network = networkOptions(options, LoadNetworkSettings(setup.settingsPath));
  setup.reader = kReadByMonitor;
  setup.given = givenKeys(options);
  return setup;
}

}  // namespace

HeadlessMonitor::HeadlessMonitor(CaptureBackend& cameras, HeadlessMainLoop& loop,
                                 HeadlessOptions options)
    : loop_(loop),
      options_(std::move(options)),
      console_(options_.quiet, options_.json),
      view_(console_),
      eventLog_([this](const std::string& complaint) { console_.say(complaint); }),
      jsonOut_(console_),
      session_(cameras, loop, view_, sessionSetup(options_)) {
  registerSinks();
  // Both hooks come from inside the frame handler; finish() only asks the loop to return.
  view_.onEventRecorded = [this](std::int32_t count) {
    if (options_.maxEvents && count >= *options_.maxEvents) {
      finish(kExitStopped, "--max-events");
    }
  };
  // Only the lens check stops monitoring by itself; its message has been said already.
  view_.onMonitoringStopped = [this] { finish(kExitNotMonitored, "monitoring ended"); };
}

// The event log first: a line is on disk before it is told, and before --max-events stops.
void HeadlessMonitor::registerSinks() {
  view_.moreStatus = [this] { return session_.uplinkStatusText(); };
  session_.addSink(eventLog_);
  session_.addSink(jsonOut_);
  session_.addSink(view_);
}

int HeadlessMonitor::run() {
  openOutputs();
  // No default folder of its own: without a Directory setting pictures go to the current one.
  session_.open("");
  applyOptions();
  if (const int failure = start(); failure != kExitStopped) return failure;
  if (!finished_) {
    sayStart();
    if (options_.duration) {
      const auto ms = static_cast<int>(options_.duration->count());
      durationTimer_ = loop_.createTimer([this] { finish(kExitStopped, "--duration"); }, ms, true);
      durationTimer_->start();
    }
    loop_.run();
  }
  if (monitor().Running) monitor().StopMonitoring();
  const MonitorStatus last = monitor().status();
  session_.close();  // the run's last heartbeat kept, and what waits sent while it can be
  std::string summary = "stopped (" + stopReason_ + "): " + view_.statusLine(last);
  if (eventLog_.isOpen()) {
    summary += ", event log lines not written " + std::to_string(eventLog_.linesNotWritten());
  }
  console_.say(summary);
  return status_;
}

void HeadlessMonitor::onSignal(Signal signal) {
  switch (signal) {
    case Signal::terminate:
      return finish(kExitStopped, "SIGTERM");
    case Signal::interrupt:
      return finish(kExitStopped, "SIGINT");
    case Signal::hangup:
      return reopenEventLog();
  }
}

// Before any camera opens: a log that cannot be written is the command line's mistake. A
// missing --out folder is made by Run, as the window's is.
void HeadlessMonitor::openOutputs() {
  if (options_.eventLog && !eventLog_.open(*options_.eventLog)) {
    throw UsageError("--events: '" + *options_.eventLog + "': " + eventLog_.error());
  }
}

// The command line over the settings file, as the user's changes in the window would be.
void HeadlessMonitor::applyOptions() {
  UserOptions options = view_.userOptions();
  if (options_.limit) options.limit = *options_.limit;
  options.gray = options.gray || options_.gray;
  options.inverse = options.inverse || options_.inverse;
  view_.setUserOptions(options);
  if (options_.outDirectory) {
    monitor().SetOutputDirectory(withTrailingSeparator(*options_.outDirectory));
  }
}

// Picks the camera as the window's list would and presses Run. Returns kExitStopped when
// monitoring runs, else the exit status, having said why.
int HeadlessMonitor::start() {
  if (monitor().CameraCount <= 0) {
    console_.say("could not start monitoring: no camera found");
    return kExitNotMonitored;
  }
  // Nobody would see pictures failing one by one: a folder that cannot take them stops here.
  if (const std::optional<std::string> problem = monitor().prepareOutputDirectory()) {
    console_.say("could not start monitoring: " + *problem);
    return kExitNotMonitored;
  }
  if (options_.camera) {
    const int position = selectDevice(monitor().cameraEntries(), *options_.camera);
    if (position < 0) {
      console_.say("could not start monitoring \"" + *options_.camera +
                   "\": no camera has that name or position (see --list)");
      return kExitNotMonitored;
    }
    monitor().CamLstCBChange(position);
  }
  view_.sayLogLines(true);
  const bool started = monitor().RunSBClick();
  view_.sayLogLines(false);
  if (!started) {
    console_.say("could not start monitoring " + cameraLabel());
    return kExitNotMonitored;
  }
  return kExitStopped;
}

// The stop itself waits until the loop has returned; meanwhile no frame is an event.
void HeadlessMonitor::finish(int status, std::string reason) {
  if (finished_) return;
  finished_ = true;
  status_ = status;
  stopReason_ = std::move(reason);
  view_.endEvents();
  loop_.quit();
}

// Log rotation: the old file was renamed away, lines now go to a new one under the path.
void HeadlessMonitor::reopenEventLog() {
  if (!eventLog_.isOpen()) return console_.say("SIGHUP: no event log to reopen");
  if (eventLog_.reopen()) return console_.say("SIGHUP: event log reopened: " + eventLog_.path());
  console_.say("SIGHUP: could not reopen the event log " + eventLog_.path() + ": " +
               eventLog_.error() + "; events still go to the old file");
}

// The selected camera as messages name it: its name in quotes, or the position Run tried.
std::string HeadlessMonitor::cameraLabel() const {
  const std::int32_t selected = monitor().selectedCamera();
  const std::vector<std::string>& entries = monitor().cameraEntries();
  if (selected >= 0 && static_cast<std::size_t>(selected) < entries.size()) {
    return "\"" + entries[static_cast<std::size_t>(selected)] + "\"";
  }
  return "#" + std::to_string(selected + 1);
}

// "160x120/YUY2", as --format takes it.
std::string HeadlessMonitor::streamedFormat() {
  const TVideoImage& capture = *monitor().captureObject();
  return std::to_string(capture.width()) + "x" + std::to_string(capture.height()) + "/" +
         printableFourcc(capture.fourcc());
}

void HeadlessMonitor::sayStart() {
  const UserOptions options = view_.userOptions();
  std::string text = "monitoring " + cameraLabel() + ", format " + streamedFormat() + ", limit " +
                     std::to_string(options.eventLimit());
  if (options.gray) text += ", gray";
  if (options.inverse) text += ", inverse";
  text += ", pictures to " +
          (monitor().OutputDirectory.empty() ? "the current folder" : monitor().OutputDirectory);
  if (eventLog_.isOpen()) text += ", events to " + eventLog_.path();
  console_.say(text);
}

}  // namespace ravdel
