#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/frame_bitmap.h"
#include "detection/clusters.h"
#include "detection/event_limit.h"
#include "detection/hot_pixel_mask.h"
#include "detection/peak_kernels.h"

namespace ravdel {

// What the user has set for every analysed frame, read at that moment.
struct AnalysisOptions {
  std::uint8_t limit = kDefaultLimit;  // a channel strictly above it makes an event
  bool gray = false;
  bool inverse = false;
  bool lensCheck = false;  // this is the first frame after a start
  // Pixels the peak search leaves out; borrowed for the call. None: every pixel counts.
  const HotPixelMask* mask = nullptr;
  bool measureMean = false;  // for the light-leak guard: fills FrameAnalysis::frameMean
  // An event frame's clusters are measured, their pixels above this level (ClusterSettings).
  std::optional<std::uint8_t> clusterLevel;
};

struct PeakPixel {
  std::int32_t x = 0;
  std::int32_t y = 0;  // row 0 is the top row
  std::uint8_t b = 0, g = 0, r = 0;
};

struct ThumbnailSize {
  std::int32_t width = 64;
  std::int32_t height = 64;
};

// A mean pixel magnitude of this much or more on the lens-check frame means an uncovered lens.
inline constexpr double kUncoveredLensMean = 40.0;

struct FrameAnalysis {
  std::int32_t width = 0;
  std::int32_t height = 0;
  PeakPixel peak;
  std::optional<double> lensMean;   // set when the lens check ran
  std::optional<double> frameMean;  // with measureMean, before the display options
  bool lensUncovered = false;       // the check failed: stop, no options, no event
  bool converted = true;            // false when the picture is the format notice
  bool event = false;
  std::vector<Cluster> clusters;  // of an event frame, with clusterLevel
};

// The brightest pixel by B*B + G*G + R*R; of equal ones, the last in the scan order
// (bottom row first, left to right), i.e. the rightmost of the topmost row holding the maximum.
PeakPixel findPeak(const FrameBitmap& frame);

// The same search over the pixels outside `mask`: the peak and the event come from the rest
// of the frame. A mask of another size than the frame leaves every pixel in; a frame whose
// every pixel is masked has a black peak at (0, 0).
PeakPixel findPeak(const FrameBitmap& frame, const HotPixelMask& mask,
                   const PeakKernels& kernels = bestPeakKernels());

// Mean of sqrt(B*B + G*G + R*R) over all pixels, or over every step-th pixel of every
// step-th row, from the top left.
double meanMagnitude(const FrameBitmap& frame, std::int32_t step = 1);

// The light-leak guard's mean looks at one pixel in 16: light through the tape spreads over
// the frame, and a 1080p frame is then measured in a fraction of a millisecond.
inline constexpr std::int32_t kFrameMeanStep = 4;

// Inverts and/or turns grey every pixel, in place (inverse first).
void applyDisplayOptions(FrameBitmap& frame, bool gray, bool inverse);

// 64 pixels on the longer side, the shorter side keeps the aspect ratio, rounded down.
ThumbnailSize thumbnailSize(std::int32_t width, std::int32_t height);

// Shrinks (or grows) `frame` to `size` by dropping rows and columns, never averaging.
FrameBitmap makeThumbnail(const FrameBitmap& frame, ThumbnailSize size);

// Analyses one frame held in `work`: finds the peak, runs the lens check when asked, applies
// the display options to `work` (unless the lens check failed) and decides the event.
FrameAnalysis analyseFrame(FrameBitmap& work, const AnalysisOptions& options);

}  // namespace ravdel
