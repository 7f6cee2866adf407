#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "detection/clusters.h"
#include "detection/frame_analysis.h"
#include "platform/local_time.h"

namespace ravdel {

// When a hit struck: somewhere in loUs..hiUs (UTC microseconds), the frame's exposure widened by
// the clock's error bound; us is the middle of the exposure.
struct HitTime {
  std::int64_t us = 0;
  std::int64_t loUs = 0;
  std::int64_t hiUs = 0;
  bool clockSynced = false;  // the system vouched for its clock; else the settings' bound
};

// One recorded event, for logs that scripts read.
struct EventReport {
  LocalTime time;
  std::int64_t unixMs = 0;
  std::optional<std::string> file;  // the picture's name; none when it could not be written
  PeakPixel peak;
  std::uint8_t limit = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t fourcc = 0;
  std::string camera;
  std::int64_t frame = 0;          // frames analysed since Run, this one included
  std::optional<double> lensMean;  // of the run's first frame
  double liveSeconds = 0;
  std::optional<std::vector<Cluster>> clusters;  // measured when the run asks for them
  HitTime hit;
  // The frame as the camera gave it (before the display options), borrowed for the call.
  const FrameBitmap* picture = nullptr;
  std::string runId;     // new at each Run
  std::int64_t seq = 0;  // 1 for the run's first event, then one more for each
};

// The counters of a run as a status line shows them.
struct MonitorStatus {
  std::int32_t framesLastMinute = 0;  // SPM
  std::int32_t minutesElapsed = 0;    // the up-time's base
  std::int32_t events = 0;
  std::string eventsPerDay;           // as the window shows it: "-" before a rate exists
  double liveSeconds = 0;             // monitoring with frames coming in
  std::uint64_t framesDelivered = 0;  // reached the program from the camera
  std::uint64_t framesAnalysed = 0;
  std::uint64_t droppedIdle = 0;     // the main loop had not been idle for a second
  std::uint64_t droppedBusy = 0;     // arrived while a frame was being analysed
  std::uint64_t droppedBacklog = 0;  // enough notifications were already waiting
  std::int64_t maskedPixels = 0;     // by the hot-pixel mask
  double leakPausedSeconds = 0;      // counting paused by the light-leak guard
};

// A run that has started: the camera streams and frames are analysed.
struct RunStart {
  std::string runId;
  std::int64_t startUs = 0;  // UTC microseconds
  std::string camera;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t fourcc = 0;
  std::uint8_t limit = 0;
  // The counters as the run starts; the frame counts run on from earlier runs.
  MonitorStatus before;
};

// Where what the monitor does goes besides the screen: a file, a database, the network, and the
// news a person reads (a balloon, a line on stderr). The monitor calls each registered sink in
// the order of registration, on the main thread, outside any lock; none may throw.
class EventSink {
 public:
  virtual ~EventSink() = default;

  virtual void runStarted(const RunStart&) {}
  // Monitoring ended (Stop, the lens check, the program closing): the run's last figures.
  virtual void runStopped(const MonitorStatus&) {}
  virtual void eventRecorded(const EventReport&) {}
  virtual void minuteTicked(const MonitorStatus&) {}
  // The camera dropped out; it is opened again when it returns. Then frames flow again.
  virtual void cameraLost(const std::string& /*camera*/, const std::string& /*why*/) {}
  virtual void cameraBack(const std::string& /*camera*/) {}
  // The light-leak guard paused counting (the log has said "Light leak"), and resumed it.
  virtual void lightLeakStarted() {}
  virtual void lightLeakEnded() {}
};

}  // namespace ravdel
