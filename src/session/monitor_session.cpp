#include "session/monitor_session.h"

#include <utility>

namespace ravdel {

MonitorSession::MonitorSession(CaptureBackend& backend, MainLoop& loop, MonitorView& view,
                               Setup setup)
    : setup_(std::move(setup)),
      detection_(setup_.detection.value_or(LoadDetectionSettings(setup_.settingsPath))) {
  // Nobody may be there to press Run again: a camera that drops out is reopened when it
  // returns, the counters kept.
  MonitorConfig config;
  config.format = setup_.format;
  config.recoverLostCamera = true;
  config.settingsReader = setup_.reader;
  config.settingsGiven = setup_.given;
  monitor_ = std::make_unique<Monitor>(backend, loop, view, withDetection(config, detection_));
}

MonitorSession::~MonitorSession() {
  try {
    close();
  } catch (...) {
  }
}

void MonitorSession::open(const std::string& defaultDirectory) {
  monitor_->Open(setup_.settingsPath, defaultDirectory);
}

void MonitorSession::close() {
  monitor_->Close();
}

void MonitorSession::changeDetection(const DetectionSettings& detection) {
  detection_ = detection;
  monitor_->setDetection(detection_);
  SaveDetectionSettings(setup_.settingsPath, detection_);
}

}  // namespace ravdel
