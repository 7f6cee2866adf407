#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/frame_bitmap.h"
#include "detection/event_limit.h"
#include "detection/event_records.h"
#include "monitor/event_sink.h"

namespace ravdel {

// What the user sets and the analysis reads for every frame, in the state of that moment.
struct UserOptions {
  std::int32_t limit = kDefaultLimit;  // the limit control's position
  bool sound = false;
  bool inverse = false;
  bool gray = false;

  // The control holds more than a byte; its low 8 bits are the limit a channel must exceed.
  std::uint8_t eventLimit() const { return static_cast<std::uint8_t>(limit & 0xff); }
};

enum class MessageKind {
  plain,  // captioned with the program's title, no icon
  error,  // captioned "Error", with the error icon
};

// Where the monitoring sequence shows what it does: the window's controls, or a console.
// Every call comes on the main thread; none may throw.
class MonitorView : public EventDisplay {
 public:
  // The camera list: its entries ("---" alone when there is no camera), the selected
  // position (-1: none) and whether the user may pick from it.
  virtual void showCameraList(const std::vector<std::string>& entries, std::int32_t selected,
                              bool enabled) = 0;
  virtual void showCameraSelection(std::int32_t selected) = 0;
  // Monitoring: only Stop can be used; idle: Run, refresh and the list, not Stop.
  virtual void showMonitoringState(bool monitoring) = 0;

  virtual void showFrameSize(std::int32_t width, std::int32_t height) = 0;
  virtual void showPeak(std::uint8_t r, std::uint8_t g, std::uint8_t b) = 0;
  virtual void showThumbnail(const FrameBitmap& thumbnail) = 0;
  virtual void showFramesLastMinute(std::int32_t frames) = 0;
  virtual void showUpTime(const std::string& text) = 0;
  virtual void showDirectory(const std::string& label) = 0;

  virtual UserOptions userOptions() const = 0;
  virtual void showUserOptions(const UserOptions& options) = 0;

  // The hourglass for the whole screen around start and stop.
  virtual void setBusy(bool busy) = 0;
  // A message the user must acknowledge; with a screen it is modal and the loop runs inside.
  virtual void showMessage(MessageKind kind, const std::string& text) = 0;
  // A failure on the frame path, in the failure box (its full-stop rule applied), shown
  // without waiting for it: frames go on and Stop stays within reach. `closed` runs when the
  // user has dismissed it; a view without boxes runs it at once.
  virtual void showFrameFailure(const std::string& text, std::function<void()> closed) = 0;
  // A picture not written again, after the first one's box: a line of the log with the count
  // of this run's.
  virtual void logPictureNotWritten(const std::string& text, std::int32_t countSinceRun) {
    appendLogLine(text + " (" + std::to_string(countSinceRun) + " pictures not written since Run)");
  }
  // "Event detected!" at the tray icon.
  virtual void showEventNotice() = 0;
  virtual void playEventSound() = 0;

  // Why Run failed or what it did on the way (a format it cannot use, an output folder made
  // or missing): the window's log has it.
  virtual void showNote(const std::string& text) { appendLogLine(text); }
};

// The texts of the windows' warning balloons, the same in every window.
inline std::string cameraLostBalloonText(const std::string& camera) {
  return camera + " stopped delivering frames; it is opened again when it returns.";
}
inline constexpr const char* kLightLeakBalloonText =
    "Light reaches the sensor: counting pauses until the frame is dark again.";

}  // namespace ravdel
