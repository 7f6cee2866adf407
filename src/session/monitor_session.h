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
#include "station/history_sink.h"
#include "station/uplink.h"

namespace ravdel {

// What every front end does around its monitor, once: the settings file's detection options
// and the policy that a camera which drops out is opened again, start-up and close, the
// options changed while the program runs, and the station's outputs the [Network] settings ask
// for (its history in the local store, the uplink to the station network), whose news goes to
// the view's log. Front ends register their sinks here, in one place each. Main thread only.
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
    std::optional<NetworkSettings> network;  // replaces the file's [Network] when given
  };

  // The station's store, beside the settings file.
  static constexpr const char* kHistoryFile = "RVD-history.db";

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
  const NetworkSettings& network() const { return network_; }
  // New options from the window's dialog: the next Run uses them, even when the file cannot be
  // written; then SettingsWriteError says so.
  void changeDetection(const DetectionSettings& detection);
  // New network settings from the window's dialog: saved, and the station's outputs started
  // again with them. A new password goes to the station's password file beside the settings
  // (readable by its owner alone), which the settings then name. Throws SettingsWriteError
  // after applying what it could when a file cannot be written.
  void changeNetwork(NetworkSettings network, const std::optional<std::string>& password = {});

  // The station's password file, beside the settings file.
  static constexpr const char* kPasswordFile = "RVD-station.password";

  std::string historyPath() const;
  // The name the history keeps this station's events under.
  std::string historyStation() const;
  // The uplink's figures (its last, once stopped); nothing without a server.
  std::optional<Uplink::Counts> uplinkCounts() const;
  // "queued 3, sent 120, stored 117": the minute line's network figures; empty without a server.
  std::string uplinkStatusText() const;
  // Events the history could not keep.
  std::int64_t historyFailures() const { return history_ ? history_->failures() : 0; }

 private:
  std::string besideSettings(const char* name) const;
  void startStation();
  void stopStation();
  void passOnUplinkNotes();

  MainLoop& loop_;
  MonitorView& view_;
  Setup setup_;
  DetectionSettings detection_;
  NetworkSettings network_;
  std::unique_ptr<Monitor> monitor_;
  std::unique_ptr<Uplink> uplink_;
  std::optional<Uplink::Counts> lastCounts_;  // of the uplink stopped last
  std::unique_ptr<HistorySink> history_;
  std::unique_ptr<LoopTimer> notesTimer_;  // brings the uplink's news to the log
};

}  // namespace ravdel
