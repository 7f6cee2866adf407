#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/monitor_view.h"

namespace ravdel::test {

// A view that shows nothing, for tests and benchmarks that drive the monitor without a window;
// a failure box is closed at once. Override what a test wants to see.
class SilentView : public MonitorView {
 public:
  void showCameraList(const std::vector<std::string>&, std::int32_t, bool) override {}
  void showCameraSelection(std::int32_t) override {}
  void showMonitoringState(bool) override {}
  void showFrameSize(std::int32_t, std::int32_t) override {}
  void showPeak(std::uint8_t, std::uint8_t, std::uint8_t) override {}
  void showThumbnail(const FrameBitmap&) override {}
  void showFramesLastMinute(std::int32_t) override {}
  void showUpTime(const std::string&) override {}
  void showDirectory(const std::string&) override {}
  UserOptions userOptions() const override { return {}; }
  void showUserOptions(const UserOptions&) override {}
  void setBusy(bool) override {}
  void showMessage(MessageKind, const std::string&) override {}
  void showFrameFailure(const std::string&, std::function<void()> closed) override { closed(); }
  void showEventNotice() override {}
  void playEventSound() override {}
  void showEventCount(std::int32_t) override {}
  void showEventsPerDay(const std::string&) override {}
  void appendLogLine(const std::string&) override {}
};

}  // namespace ravdel::test
