#include "headless/console_view.h"

#include <utility>

#include "detection/event_records.h"
#include "monitor/event_json.h"
#include "monitor/monitor.h"
#include "monitor/settings.h"

namespace ravdel {
namespace {

std::string eventText(const EventReport& report, std::int32_t count) {
  std::string text = "event " + std::to_string(count) + ": " +
                     eventColourLine(report.peak.r, report.peak.g, report.peak.b) + " at (" +
                     std::to_string(report.peak.x) + ", " + std::to_string(report.peak.y) + "), ";
  return text + (report.file ? *report.file : "picture not written");
}

}  // namespace

std::string statusText(const MonitorStatus& s) {
  return "SPM " + std::to_string(s.framesLastMinute) + ", up " + formatUpTime(s.minutesElapsed) +
         ", events " + std::to_string(s.events) + ", EPD " + s.eventsPerDay + ", live " +
         std::to_string(static_cast<long long>(s.liveSeconds)) + " s, frames delivered " +
         std::to_string(s.framesDelivered) + ", analysed " + std::to_string(s.framesAnalysed) +
         ", dropped " + std::to_string(s.droppedIdle) + " idle, " + std::to_string(s.droppedBusy) +
         " busy, " + std::to_string(s.droppedBacklog) + " backlog";
}

ConsoleView::ConsoleView(const Console& console)
    : console_(console), failures_([this](const std::string& text) { console_.say(text); }) {}

std::string ConsoleView::statusLine(const MonitorStatus& status) const {
  std::string line = statusText(status);
  const std::string more = moreStatus ? moreStatus() : std::string();
  return more.empty() ? line : line + ", " + more;
}

// The camera list is the command line's business (--camera, --list).
void ConsoleView::showCameraList(const std::vector<std::string>&, std::int32_t, bool) {}
void ConsoleView::showCameraSelection(std::int32_t) {}

void ConsoleView::showMonitoringState(bool monitoring) {
  if (!monitoring && onMonitoringStopped) onMonitoringStopped();
}

// Drawn by the window; the status line and the event lines say it here.
void ConsoleView::showFrameSize(std::int32_t, std::int32_t) {}
void ConsoleView::showPeak(std::uint8_t, std::uint8_t, std::uint8_t) {}
void ConsoleView::showThumbnail(const FrameBitmap&) {}
void ConsoleView::showFramesLastMinute(std::int32_t) {}
void ConsoleView::showUpTime(const std::string&) {}
void ConsoleView::showDirectory(const std::string&) {}
void ConsoleView::showEventsPerDay(const std::string&) {}
void ConsoleView::setBusy(bool) {}
void ConsoleView::showEventNotice() {}
void ConsoleView::playEventSound() {}

void ConsoleView::appendLogLine(const std::string& line) {
  if (sayLogLines_ && !line.empty()) console_.say(line);
}

UserOptions ConsoleView::userOptions() const {
  UserOptions options = options_;
  if (eventsEnded_) options.limit = setting::limit.most;  // no channel is above it
  return options;
}

void ConsoleView::showUserOptions(const UserOptions& options) {
  options_ = options;
  // The window's limit control clamps what the settings file holds; the monitor takes the low
  // 8 bits of the position, so an unclamped 300 would mean 44.
  options_.limit = limitInRange(options.limit);
  options_.sound = false;  // nothing to hear on a server
}

void ConsoleView::showMessage(MessageKind, const std::string& text) {
  console_.say(text);
}

// No box to wait for: the failure is told and at once "dismissed". The same failure again is
// counted, and the count told at most once a minute.
void ConsoleView::showFrameFailure(const std::string& text, std::function<void()> closed) {
  failures_.report(failureText(text));
  closed();
}

// Counted with the first, whose line the failures' own count follows.
void ConsoleView::logPictureNotWritten(const std::string& text, std::int32_t) {
  failures_.report(text);
}

void ConsoleView::showNote(const std::string& text) {
  console_.say(text);
}

void ConsoleView::showEventCount(std::int32_t count) {
  eventCount_ = count;
}

void ConsoleView::eventRecorded(const EventReport& report) {
  console_.progress(eventText(report, eventCount_));
  if (onEventRecorded) onEventRecorded(eventCount_);
}

void ConsoleView::minuteTicked(const MonitorStatus& status) {
  failures_.flush();
  console_.progress("status: " + statusLine(status));
}

// Counts of failures not told yet come before the summary.
void ConsoleView::runStopped(const MonitorStatus&) {
  failures_.flush(true);
}

void ConsoleView::cameraLost(const std::string&, const std::string& why) {
  console_.say("camera lost: " + why);
}

void ConsoleView::cameraBack(const std::string&) {
  console_.say("camera back");
}

void ConsoleView::lightLeakStarted() {
  console_.say("Light leak: counting paused until the frame is dark again");
}

void ConsoleView::lightLeakEnded() {
  console_.say("Light leak over: counting again");
}

void ConsoleJsonSink::eventRecorded(const EventReport& report) {
  console_.json(eventJsonLine(report));
}

}  // namespace ravdel
