#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "headless/console.h"
#include "monitor/monitor_view.h"
#include "monitor/repeated_failures.h"

namespace ravdel {

// "SPM 1800, up 0 h, events 3, EPD 4.3200000, live 60 s, frames delivered 1801, analysed
// 1800, dropped 0 idle, 0 busy, 1 backlog": what the window's labels show, and the frame
// counters behind them.
std::string statusText(const MonitorStatus& status);

// The monitor's view on a console, and the sink of the news it tells: everything a user should
// know goes to stderr. What the window only draws (thumbnail, peak, labels) is left out; the
// minute's status line carries the counters instead. Every call comes on the main thread, as
// MonitorView and EventSink promise.
class ConsoleView final : public MonitorView, public EventSink {
 public:
  // Not owned.
  explicit ConsoleView(const Console& console);

  // The command line's options, taken as given (the settings' go through showUserOptions).
  void setUserOptions(const UserOptions& options) { options_ = options; }
  // The program is stopping. Frames the monitor still analyses on its way down (the loop
  // drains its queue, the stop pumps it) are no longer events: --max-events N records N.
  void endEvents() { eventsEnded_ = true; }
  // The monitor's log lines are said while Run starts (the format table); later ones (events,
  // a camera lost or back) have lines of their own here, and so do its notes.
  void sayLogLines(bool on) { sayLogLines_ = on; }

  // The program's hooks, called on the main thread from inside the monitor's frame handler:
  // they must not stop monitoring there.
  std::function<void(std::int32_t eventCount)> onEventRecorded;
  std::function<void()> onMonitoringStopped;
  // More figures for the minute's status line (the station network's); empty: none.
  std::function<std::string()> moreStatus;

  // The minute's status line, and the summary's, with the figures above.
  std::string statusLine(const MonitorStatus& status) const;

  void showCameraList(const std::vector<std::string>& entries, std::int32_t selected,
                      bool enabled) override;
  void showCameraSelection(std::int32_t selected) override;
  void showMonitoringState(bool monitoring) override;
  void showFrameSize(std::int32_t width, std::int32_t height) override;
  void showPeak(std::uint8_t r, std::uint8_t g, std::uint8_t b) override;
  void showThumbnail(const FrameBitmap& thumbnail) override;
  void showFramesLastMinute(std::int32_t frames) override;
  void showUpTime(const std::string& text) override;
  void showDirectory(const std::string& label) override;
  UserOptions userOptions() const override;
  void showUserOptions(const UserOptions& options) override;
  void setBusy(bool busy) override;
  void showMessage(MessageKind kind, const std::string& text) override;
  void showFrameFailure(const std::string& text, std::function<void()> closed) override;
  void logPictureNotWritten(const std::string& text, std::int32_t countSinceRun) override;
  void showNote(const std::string& text) override;
  void showEventNotice() override;
  void playEventSound() override;

  // EventSink.
  void runStopped(const MonitorStatus& status) override;
  void eventRecorded(const EventReport& report) override;
  void minuteTicked(const MonitorStatus& status) override;
  void cameraLost(const std::string& camera, const std::string& why) override;
  void cameraBack(const std::string& camera) override;
  void lightLeakStarted() override;
  void lightLeakEnded() override;

  // EventDisplay.
  void showEventCount(std::int32_t count) override;
  void showEventsPerDay(const std::string& text) override;
  void appendLogLine(const std::string& line) override;

 private:
  const Console& console_;
  RepeatedFailures failures_;  // frame failures: a full folder fails at every event
  UserOptions options_;
  std::int32_t eventCount_ = 0;  // as the monitor last showed it
  bool eventsEnded_ = false;
  bool sayLogLines_ = false;
};

// With --json: each event's line of the event log on stdout too, for a pipe.
class ConsoleJsonSink final : public EventSink {
 public:
  explicit ConsoleJsonSink(const Console& console) : console_(console) {}
  void eventRecorded(const EventReport& report) override;

 private:
  const Console& console_;
};

}  // namespace ravdel
