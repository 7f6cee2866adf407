#pragma once

#include <memory>
#include <string>

#include "capture/capture_device.h"
#include "capture/headless_main_loop.h"
#include "headless/command_line.h"
#include "headless/console.h"
#include "headless/console_view.h"
#include "monitor/event_log.h"
#include "monitor/monitor.h"
#include "platform/signal_watcher.h"
#include "session/monitor_session.h"

namespace ravdel {

inline constexpr int kExitStopped = 0;       // monitored until a signal, --duration, --max-events
inline constexpr int kExitNotMonitored = 1;  // monitoring could not start, or the lens is uncovered
inline constexpr int kExitUsage = 2;

// ravdel-monitor's front end: the monitor with a console view, driven by the command line
// where the window has buttons. Everything here runs on the main thread, most of it from the
// loop; the stop always comes after the loop has returned, outside any frame handler.
class HeadlessMonitor {
 public:
  // Neither is owned; both must outlive this object.
  HeadlessMonitor(CaptureBackend& cameras, HeadlessMainLoop& loop, HeadlessOptions options);

  // Starts monitoring and runs the loop until something stops it; returns the exit status.
  // Throws UsageError, before any camera is opened, when the --events file cannot be opened.
  int run();
  // A signal the watcher took, handed on through the loop.
  void onSignal(Signal signal);

 private:
  void openOutputs();
  void registerSinks();
  void applyOptions();
  int start();
  void finish(int status, std::string reason);
  void reopenEventLog();
  std::string cameraLabel() const;
  std::string streamedFormat();
  void sayStart();

  Monitor& monitor() { return session_.monitor(); }
  const Monitor& monitor() const { return session_.monitor(); }

  HeadlessMainLoop& loop_;
  const HeadlessOptions options_;
  Console console_;
  ConsoleView view_;
  EventLogSink eventLog_;  // open with --events
  ConsoleJsonSink jsonOut_;
  MonitorSession session_;
  std::unique_ptr<LoopTimer> durationTimer_;
  bool finished_ = false;  // the first reason to stop wins
  int status_ = kExitStopped;
  std::string stopReason_;
};

}  // namespace ravdel
