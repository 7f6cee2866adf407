#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_device.h"
#include "capture/main_loop.h"
#include "monitor/event_sink.h"
#include "monitor/monitor.h"
#include "monitor/monitor_view.h"
#include "monitor/settings.h"

namespace ravdel {

// What every front end does around its monitor, once: the settings file's detection options
// and the policy that a camera which drops out is opened again, start-up and close, and the
// detection options changed while the program runs. Front ends register their sinks here, in
// one place each. Main thread only.
class MonitorSession {
 public:
  // The settings file and what the front end asks beyond it (a format, options of its command
  // line); `detection` replaces the file's options when given.
  struct Setup {
    explicit Setup(std::string path = {}) : settingsPath(std::move(path)) {}
    std::string settingsPath;
    FormatChoice format;
    std::optional<DetectionSettings> detection;
    // Who reads the settings file, and the keys given instead (see MonitorConfig).
    SettingReaders reader = kReadByWindows;
    std::vector<const SettingKey*> given;
  };

  // Neither the backend, the loop nor the view is owned; all must outlive the session.
  MonitorSession(CaptureBackend& backend, MainLoop& loop, MonitorView& view, Setup setup);
  ~MonitorSession();
  MonitorSession(const MonitorSession&) = delete;
  MonitorSession& operator=(const MonitorSession&) = delete;

  Monitor& monitor() { return *monitor_; }
  const Monitor& monitor() const { return *monitor_; }
  const std::string& settingsPath() const { return setup_.settingsPath; }

  // Not owned; it must outlive the session.
  void addSink(EventSink& sink) { monitor_->addSink(sink); }

  // Start-up: the settings, the capture object, the camera list. `defaultDirectory` is where
  // pictures go when the settings name no folder.
  void open(const std::string& defaultDirectory);
  // The close path: capture stopped and given back, the sinks told that the run ended.
  void close();

  const DetectionSettings& detection() const { return detection_; }
  // New options from the window's dialog: the next Run uses them, even when the file cannot be
  // written; then SettingsWriteError says so.
  void changeDetection(const DetectionSettings& detection);

 private:
  Setup setup_;
  DetectionSettings detection_;
  std::unique_ptr<Monitor> monitor_;
};

}  // namespace ravdel
