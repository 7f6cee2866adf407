#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/frame_bitmap.h"
#include "detection/event_limit.h"

namespace ravdel {

// Pixels the peak search leaves out: a sensor's hot and warm pixels, for one frame size.
class HotPixelMask {
 public:
  HotPixelMask() = default;
  HotPixelMask(std::int32_t width, std::int32_t height);

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  bool fits(const FrameBitmap& frame) const {
    return frame.width() == width_ && frame.height() == height_;
  }
  // False when the pixel is outside or masked already.
  bool add(std::int32_t x, std::int32_t y);
  bool masked(std::int32_t x, std::int32_t y) const;
  std::size_t count() const { return count_; }
  // The masked columns of row y, ascending.
  const std::vector<std::int32_t>& maskedInRow(std::int32_t y) const {
    return rows_[static_cast<std::size_t>(y)];
  }

 private:
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::vector<std::vector<std::int32_t>> rows_;
  std::size_t count_ = 0;
};

// The mask as a file keeps it: a first line "ravdel hot-pixel mask WxH", then one "x y" line
// per masked pixel.
std::string hotPixelMaskText(const HotPixelMask& mask);
// False, leaving `mask` as it was, when `text` is not such a file or names a pixel outside.
bool parseHotPixelMaskText(std::string_view text, HotPixelMask& mask);

// Finds the hot pixels at the start of a run: a pixel with a channel above the limit in more
// than a small share of the frames seen is masked. A real hit lights a pixel in one frame,
// so it never passes. A frame of another size starts the count afresh.
class HotPixelCalibration {
 public:
  struct Settings {
    std::uint8_t limit = kDefaultLimit;
    double share = 0.05;       // of the frames seen; and at least kMinBrightFrames of them
    std::int32_t frames = 90;  // three seconds at 30 fps
  };
  static constexpr std::uint32_t kMinBrightFrames = 2;

  explicit HotPixelCalibration(const Settings& settings) : settings_(settings) {}

  // Counts one frame. True once the calibration has seen all its frames; later frames are
  // not counted.
  bool addFrame(const FrameBitmap& frame);
  bool done() const { return seen_ >= settings_.frames; }
  std::int32_t framesSeen() const { return seen_; }
  HotPixelMask mask() const;

 private:
  Settings settings_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t seen_ = 0;
  // Frames in which each pixel was bright, by y * width + x, at most 65535; allocated at the
  // first bright pixel, so a dark sensor costs nothing.
  std::vector<std::uint16_t> brightFrames_;
};

// Learns hot pixels while monitoring: a pixel that is the peak of several events within a
// short time joins the mask. Times are seconds of live monitoring.
class HotPixelLearner {
 public:
  struct Settings {
    std::uint32_t events = 3;
    double windowSeconds = 60.0;
  };

  explicit HotPixelLearner(const Settings& settings) : settings_(settings) {}

  // One event's peak; true when (x, y) has now been the peak of `events` events within the
  // window, so it should join the mask.
  bool noteEventPeak(std::int32_t x, std::int32_t y, double seconds);

 private:
  void forgetOld(double seconds);

  Settings settings_;
  std::unordered_map<std::uint64_t, std::deque<double>> recent_;  // event times by pixel
};

// The mask of one run: calibrated on the run's first frames, then grown from event peaks.
class HotPixelMasking {
 public:
  struct Settings {
    HotPixelCalibration::Settings calibration;
    HotPixelLearner::Settings learner;
    // A calibration that would mask more than this share of the pixels, and more than
    // `fewMasked`, saw light on the sensor (a leak, an uncovered lens), not faults: masking
    // them would blind the run.
    double maxMaskedShare = 0.01;
    std::size_t fewMasked = 100;
  };
  enum class Step {
    monitoring,   // calibrated: the frame is analysed as usual
    calibrating,  // counted toward the calibration: no event
    calibrated,   // the last calibration frame: the mask is made
    tooBright,    // the last calibration frame, but too much was bright: calibrating again
  };

  HotPixelMasking();
  explicit HotPixelMasking(const Settings& settings);

  // A new run with this limit: the mask is calibrated afresh and joined with `kept`, the
  // mask of an earlier run, when that is of the same size.
  void restart(std::uint8_t limit, HotPixelMask kept = {});
  // Counts a frame toward the calibration while it lasts. A frame that belongs to it is no
  // event, whatever its peak.
  Step calibrate(const FrameBitmap& frame);
  bool calibrating() const { return !calibration_.done(); }
  // An event's peak (x, y) at `seconds` of live time; true when it has now joined the mask.
  bool learn(std::int32_t x, std::int32_t y, double seconds);
  const HotPixelMask& mask() const { return mask_; }

 private:
  Settings settings_;
  HotPixelCalibration calibration_;
  HotPixelLearner learner_;
  HotPixelMask kept_;
  HotPixelMask mask_;
};

}  // namespace ravdel
