#include "detection/frame_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <span>
#include <vector>

#include "detection/peak_kernels.h"

namespace ravdel {

namespace {

// The rows in the order the search visits them. Without the rows' largest channels: top-down.
// With them (the converters note them): brightest first, since a row whose largest channel is
// m holds sums of squares of at most 3 * m * m, and once that is below the best sum found no
// later row can hold the peak or tie with it.
std::vector<std::int32_t> searchOrder(const FrameBitmap& frame) {
  std::vector<std::int32_t> order(static_cast<std::size_t>(frame.height()));
  const std::span<const std::uint8_t> maxima = frame.rowChannelMax();
  if (maxima.empty()) {
    std::iota(order.begin(), order.end(), 0);
    return order;
  }
  std::array<std::size_t, 257> start{};  // counting sort, largest channel descending
  for (const std::uint8_t m : maxima)
    ++start[static_cast<std::size_t>(256 - m)];
  std::partial_sum(start.begin(), start.end(), start.begin());
  for (std::size_t y = maxima.size(); y-- > 0;)
    order[--start[static_cast<std::size_t>(256 - maxima[y])]] = static_cast<std::int32_t>(y);
  return order;
}

// The largest sum of squares a row can hold, from its largest channel; unbounded when unknown.
std::int64_t rowCeiling(std::span<const std::uint8_t> maxima, std::int32_t y) {
  if (maxima.empty()) return std::numeric_limits<std::int64_t>::max();
  const std::int64_t m = maxima[static_cast<std::size_t>(y)];
  return 3 * m * m;
}

// The peak of the pixels `rowMax` and `skipped` leave in. rowMax(y) is the largest sum of
// squares among row y's pixels, or -1 when it has none to offer.
template <typename RowMax, typename Skipped>
PeakPixel searchPeak(const FrameBitmap& frame, RowMax rowMax, Skipped skipped) {
  PeakPixel peak;
  if (frame.empty()) return peak;
  const std::int32_t w = frame.width();
  const std::span<const std::uint8_t> maxima = frame.rowChannelMax();
  // The last pixel in scan order (bottom row first) among equals is the one in the topmost
  // row holding the maximum: a larger maximum wins, an equal one only from a row above.
  std::int32_t peakRow = -1;
  std::int64_t best = -1;
  for (const std::int32_t y : searchOrder(frame)) {
    // Rows come by falling ceiling, rows of one ceiling top-down. Once a row's ceiling is
    // below the best, or equals it in a row below the peak's (a tie from below loses), no row
    // after it can take the peak. A grey picture's rows reach their ceilings, so its search
    // stops at the second row of the peak's level instead of reading all of them.
    const std::int64_t ceiling = rowCeiling(maxima, y);
    if (ceiling < best || (ceiling == best && y > peakRow)) break;
    const std::int64_t m = rowMax(y);
    if (m > best || (m == best && m >= 0 && y < peakRow)) {
      best = m;
      peakRow = y;
    }
  }
  if (peakRow < 0) return peak;  // every pixel left out: a black peak, never an event
  // Within that row the rightmost of equals wins.
  const std::uint8_t* row = frame.row(peakRow);
  std::int32_t x = w - 1;
  while (x > 0 && (skipped(x, peakRow) ||
                   sumOfSquares(row + std::size_t{3} * static_cast<std::size_t>(x)) != best))
    --x;
  const std::uint8_t* pixel = row + std::size_t{3} * static_cast<std::size_t>(x);
  peak.x = x;
  peak.y = peakRow;
  peak.b = pixel[0];
  peak.g = pixel[1];
  peak.r = pixel[2];
  return peak;
}

// The largest sum of squares of a row outside its masked columns: the kernel on each stretch
// between them.
std::int64_t maskedRowMax(const PeakKernels& kernels, const std::uint8_t* row, std::int32_t width,
                          const std::vector<std::int32_t>& masked) {
  std::int64_t best = -1;
  std::int32_t start = 0;
  const auto stretch = [&](std::int32_t end) {
    if (end > start) {
      const std::uint8_t* first = row + std::size_t{3} * static_cast<std::size_t>(start);
      best = std::max<std::int64_t>(best, kernels.rowMaxSumOfSquares(first, end - start));
    }
  };
  for (const std::int32_t column : masked) {
    stretch(column);
    start = column + 1;
  }
  stretch(width);
  return best;
}

}  // namespace

PeakPixel findPeak(const FrameBitmap& frame) {
  const PeakKernels& kernels = bestPeakKernels();
  const std::int32_t w = frame.width();
  return searchPeak(
      frame,
      [&](std::int32_t y) { return std::int64_t{kernels.rowMaxSumOfSquares(frame.row(y), w)}; },
      [](std::int32_t, std::int32_t) { return false; });
}

PeakPixel findPeak(const FrameBitmap& frame, const HotPixelMask& mask, const PeakKernels& kernels) {
  if (!mask.fits(frame) || mask.count() == 0) return findPeak(frame);
  const std::int32_t w = frame.width();
  return searchPeak(
      frame,
      [&](std::int32_t y) -> std::int64_t {
        const std::vector<std::int32_t>& masked = mask.maskedInRow(y);
        if (masked.empty()) return kernels.rowMaxSumOfSquares(frame.row(y), w);
        return maskedRowMax(kernels, frame.row(y), w, masked);
      },
      [&](std::int32_t x, std::int32_t y) { return mask.masked(x, y); });
}

double meanMagnitude(const FrameBitmap& frame, std::int32_t step) {
  if (frame.empty() || step < 1) return 0.0;
  double sum = 0.0;
  std::int64_t pixels = 0;
  const std::size_t bytes = frame.stride();
  const std::size_t pixelStep = 3 * static_cast<std::size_t>(step);
  for (std::int32_t y = 0; y < frame.height(); y += step) {
    const std::uint8_t* p = frame.row(y);
    for (std::size_t i = 0; i < bytes; i += pixelStep, ++pixels)
      sum += std::sqrt(static_cast<double>(sumOfSquares(p + i)));
  }
  return sum / static_cast<double>(pixels);
}

void applyDisplayOptions(FrameBitmap& frame, bool gray, bool inverse) {
  if (!gray && !inverse) return;
  const std::size_t bytes = frame.byteCount();
  std::uint8_t* p = frame.data();
  for (std::size_t i = 0; i < bytes; i += 3) {
    std::uint8_t* px = p + i;
    if (inverse) {
      px[0] = static_cast<std::uint8_t>(255 - px[0]);
      px[1] = static_cast<std::uint8_t>(255 - px[1]);
      px[2] = static_cast<std::uint8_t>(255 - px[2]);
    }
    if (gray) {
      // floor(0.3 R + 0.59 G + 0.11 B), exact in integers.
      const unsigned y = (300u * px[2] + 590u * px[1] + 110u * px[0]) / 1000u;
      px[0] = px[1] = px[2] = static_cast<std::uint8_t>(y);
    }
  }
}

ThumbnailSize thumbnailSize(std::int32_t width, std::int32_t height) {
  ThumbnailSize size;
  if (width > height) {
    size.height = static_cast<std::int32_t>(std::int64_t{height} * 64 / width);
  } else if (height > width) {
    size.width = static_cast<std::int32_t>(std::int64_t{width} * 64 / height);
  }
  return size;
}

FrameBitmap makeThumbnail(const FrameBitmap& frame, ThumbnailSize size) {
  FrameBitmap thumb(size.width, size.height);
  if (frame.empty()) {
    thumb.fill(0, 0, 0);
    return thumb;
  }
  // Each thumbnail pixel takes the source pixel under its centre.
  const std::int64_t w = frame.width();
  const std::int64_t h = frame.height();
  for (std::int32_t j = 0; j < thumb.height(); ++j) {
    const auto sy = static_cast<std::int32_t>((2 * j + 1) * h / (2 * std::int64_t{size.height}));
    const std::uint8_t* src = frame.row(sy);
    std::uint8_t* dst = thumb.row(j);
    for (std::int32_t i = 0; i < thumb.width(); ++i, dst += 3) {
      const auto sx = static_cast<std::size_t>((2 * i + 1) * w / (2 * std::int64_t{size.width}));
      dst[0] = src[3 * sx];
      dst[1] = src[3 * sx + 1];
      dst[2] = src[3 * sx + 2];
    }
  }
  return thumb;
}

FrameAnalysis analyseFrame(FrameBitmap& work, const AnalysisOptions& options) {
  FrameAnalysis a;
  a.width = work.width();
  a.height = work.height();
  a.converted = !work.showsNotice();
  a.peak = options.mask != nullptr ? findPeak(work, *options.mask) : findPeak(work);
  // Before the display options: an inverted picture is bright.
  if (options.measureMean) a.frameMean = meanMagnitude(work, kFrameMeanStep);
  if (options.lensCheck) {
    a.lensMean = meanMagnitude(work);
    if (*a.lensMean >= kUncoveredLensMean) {
      a.lensUncovered = true;
      return a;
    }
  }
  // The notice's white cells would otherwise make every unconvertible frame an event.
  const PeakPixel& p = a.peak;
  a.event = a.converted && !work.empty() &&
            (p.b > options.limit || p.g > options.limit || p.r > options.limit);
  if (a.event && options.clusterLevel) {
    const ClusterSettings settings{
        .limit = options.limit, .level = *options.clusterLevel, .mask = options.mask};
    a.clusters = findClusters(work, settings, p.x, p.y);
  }
  applyDisplayOptions(work, options.gray, options.inverse);
  return a;
}

}  // namespace ravdel
