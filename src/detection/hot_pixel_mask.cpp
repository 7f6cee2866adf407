#include "detection/hot_pixel_mask.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <utility>

#include "detection/peak_kernels.h"

namespace ravdel {
namespace {

// Beyond this many pixels with recent events the learner drops those it no longer needs.
constexpr std::size_t kLearnerTidyAt = 4096;

std::uint64_t pixelKey(std::int32_t x, std::int32_t y) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(y)) << 32) |
         static_cast<std::uint32_t>(x);
}

}  // namespace

HotPixelMask::HotPixelMask(std::int32_t width, std::int32_t height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      rows_(static_cast<std::size_t>(height_)) {}

bool HotPixelMask::add(std::int32_t x, std::int32_t y) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  std::vector<std::int32_t>& row = rows_[static_cast<std::size_t>(y)];
  const auto at = std::lower_bound(row.begin(), row.end(), x);
  if (at != row.end() && *at == x) return false;
  row.insert(at, x);
  ++count_;
  return true;
}

bool HotPixelMask::masked(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  const std::vector<std::int32_t>& row = rows_[static_cast<std::size_t>(y)];
  return std::binary_search(row.begin(), row.end(), x);
}

std::string hotPixelMaskText(const HotPixelMask& mask) {
  std::string text = "ravdel hot-pixel mask " + std::to_string(mask.width()) + "x" +
                     std::to_string(mask.height()) + "\n";
  for (std::int32_t y = 0; y < mask.height(); ++y) {
    for (const std::int32_t x : mask.maskedInRow(y))
      text += std::to_string(x) + " " + std::to_string(y) + "\n";
  }
  return text;
}

bool parseHotPixelMaskText(std::string_view text, HotPixelMask& mask) {
  constexpr std::string_view kHead = "ravdel hot-pixel mask ";
  const auto number = [&](std::int32_t& value, char after) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() + text.size() || *end != after) return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
    return true;
  };
  if (!text.starts_with(kHead)) return false;
  text.remove_prefix(kHead.size());
  std::int32_t width = 0, height = 0;
  if (!number(width, 'x') || !number(height, '\n') || width <= 0 || height <= 0) return false;
  HotPixelMask read(width, height);
  while (!text.empty()) {
    std::int32_t x = 0, y = 0;
    if (!number(x, ' ') || !number(y, '\n') || x >= width || y >= height || x < 0 || y < 0)
      return false;
    read.add(x, y);
  }
  mask = std::move(read);
  return true;
}

bool HotPixelCalibration::addFrame(const FrameBitmap& frame) {
  if (done()) return true;
  if (frame.width() != width_ || frame.height() != height_) {
    width_ = frame.width();
    height_ = frame.height();
    seen_ = 0;
    brightFrames_.clear();
  }
  // A row whose largest sum of squares is at most limit^2 has no channel above the limit.
  const PeakKernels& kernels = bestPeakKernels();
  const std::uint32_t quiet = std::uint32_t{settings_.limit} * settings_.limit;
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::uint8_t* row = frame.row(y);
    if (kernels.rowMaxSumOfSquares(row, width_) <= quiet) continue;
    if (brightFrames_.empty())
      brightFrames_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
    std::uint16_t* counts =
        brightFrames_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    for (std::int32_t x = 0; x < width_; ++x) {
      const std::uint8_t* p = row + std::size_t{3} * static_cast<std::size_t>(x);
      if (std::max({p[0], p[1], p[2]}) > settings_.limit &&
          counts[x] != std::numeric_limits<std::uint16_t>::max())
        ++counts[x];
    }
  }
  ++seen_;
  return done();
}

HotPixelMask HotPixelCalibration::mask() const {
  HotPixelMask mask(width_, height_);
  const double needed = settings_.share * seen_;
  for (std::size_t i = 0; i < brightFrames_.size(); ++i) {
    const std::uint16_t frames = brightFrames_[i];
    if (frames < kMinBrightFrames || frames <= needed) continue;
    mask.add(static_cast<std::int32_t>(i % static_cast<std::size_t>(width_)),
             static_cast<std::int32_t>(i / static_cast<std::size_t>(width_)));
  }
  return mask;
}

bool HotPixelLearner::noteEventPeak(std::int32_t x, std::int32_t y, double seconds) {
  if (recent_.size() >= kLearnerTidyAt) forgetOld(seconds);
  std::deque<double>& times = recent_[pixelKey(x, y)];
  times.push_back(seconds);
  while (!times.empty() && seconds - times.front() > settings_.windowSeconds)
    times.pop_front();
  if (times.size() < settings_.events) return false;
  recent_.erase(pixelKey(x, y));
  return true;
}

void HotPixelLearner::forgetOld(double seconds) {
  std::erase_if(recent_, [&](const auto& entry) {
    return seconds - entry.second.back() > settings_.windowSeconds;
  });
}

HotPixelMasking::HotPixelMasking() : HotPixelMasking(Settings{}) {}

HotPixelMasking::HotPixelMasking(const Settings& settings)
    : settings_(settings), calibration_(settings.calibration), learner_(settings.learner) {}

void HotPixelMasking::restart(std::uint8_t limit, HotPixelMask kept) {
  kept_ = std::move(kept);
  settings_.calibration.limit = limit;
  calibration_ = HotPixelCalibration(settings_.calibration);
  learner_ = HotPixelLearner(settings_.learner);
  mask_ = HotPixelMask();
}

HotPixelMasking::Step HotPixelMasking::calibrate(const FrameBitmap& frame) {
  if (calibration_.done()) return Step::monitoring;
  if (!calibration_.addFrame(frame)) return Step::calibrating;
  HotPixelMask made = calibration_.mask();
  const double pixels = static_cast<double>(made.width()) * made.height();
  if (made.count() > settings_.fewMasked &&
      static_cast<double>(made.count()) > settings_.maxMaskedShare * pixels) {
    calibration_ = HotPixelCalibration(settings_.calibration);
    return Step::tooBright;
  }
  if (kept_.width() == made.width() && kept_.height() == made.height()) {
    for (std::int32_t y = 0; y < kept_.height(); ++y) {
      for (const std::int32_t x : kept_.maskedInRow(y))
        made.add(x, y);
    }
  }
  mask_ = std::move(made);
  return Step::calibrated;
}

bool HotPixelMasking::learn(std::int32_t x, std::int32_t y, double seconds) {
  return learner_.noteEventPeak(x, y, seconds) && mask_.add(x, y);
}

}  // namespace ravdel
