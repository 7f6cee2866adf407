#include "capture/simulated/synthetic_source.h"

#include <algorithm>
#include <cmath>

#include "base/fourcc.h"
#include "convert/frame_converter.h"

namespace ravdel {
namespace {

constexpr int kBlackLuma = 16;  // black in the video range of Y
constexpr int kNeutralChroma = 128;

// Bytes from the generator, eight per call.
class RandomBytes {
 public:
  explicit RandomBytes(std::uint64_t seed) : random_(seed) {}
  std::uint8_t next() {
    if (left_ == 0) {
      word_ = random_.next();
      left_ = 8;
    }
    --left_;
    const auto byte = static_cast<std::uint8_t>(word_ & 0xff);
    word_ >>= 8;
    return byte;
  }

 private:
  SplitMix64 random_;
  std::uint64_t word_ = 0;
  int left_ = 0;
};

// A value spread evenly over amplitude + 1 steps around `base`.
std::uint8_t noisy(int base, int amplitude, std::uint8_t random) {
  const int value = base - amplitude / 2 + ((random * (amplitude + 1)) >> 8);
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// The lit scene of an uncovered lens: brighter to the right and downwards, Y from 70 to 210.
int sceneLevel(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  return 70 + static_cast<int>(100 * std::int64_t{x} / w + 40 * std::int64_t{y} / h);
}

std::size_t pixelCount(const StreamFormat& f) {
  return static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height);
}

}  // namespace

std::uint64_t SplitMix64::next() {
  state_ += 0x9e3779b97f4a7c15u;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

double SplitMix64::uniform() {
  return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

std::uint32_t SplitMix64::below(std::uint32_t bound) {
  return static_cast<std::uint32_t>(((next() >> 32) * bound) >> 32);
}

SyntheticSource::SyntheticSource(const Settings& settings)
    : settings_(settings), hitRandom_(settings.seed ^ 0x68697473u) {}

void SyntheticSource::start(const StreamFormat& format) {
  restoreStamped();
  shown_ = kNoiseFrames - 1;
  const bool sameFormat = format.fourcc == format_.fourcc && format.width == format_.width &&
                          format.height == format_.height;
  if (sameFormat && !noiseFrames_.empty()) return;  // a restart: the frames are still clean

  format_ = format;
  switch (format.fourcc) {
    case fourcc::kRgb:
      layout_ = Layout::Rgb;
      break;
    case fourcc::kI420:
    case fourcc::kIyuv:
    case fourcc::kYv12:
    case fourcc::kNv12:
    case fourcc::kNv21:
    case fourcc::kGrey:
      layout_ = Layout::LumaPlane;
      break;
    case fourcc::kUyvy:
      layout_ = Layout::PackedUyvy;
      break;
    default:  // the description allows only the Y0 U Y1 V codes besides these
      layout_ = Layout::PackedYuyv;
      break;
  }
  const auto bytes = static_cast<std::size_t>(
      std::max<std::int64_t>(0, requiredSampleBytes(format.fourcc, format.width, format.height)));
  SplitMix64 seeds(settings_.seed ^ (std::uint64_t{format.fourcc} << 32) ^
                   (static_cast<std::uint64_t>(format.width) << 16) ^
                   static_cast<std::uint64_t>(format.height));
  noiseFrames_.assign(kNoiseFrames, std::vector<std::uint8_t>(bytes));
  for (std::vector<std::uint8_t>& frame : noiseFrames_)
    fillNoiseFrame(frame, seeds.next());
}

void SyntheticSource::fillNoiseFrame(std::vector<std::uint8_t>& frame, std::uint64_t seed) const {
  RandomBytes random(seed);
  const int noise = settings_.noise;
  const bool lit = settings_.uncovered;
  const std::int32_t w = format_.width;
  const std::int32_t h = format_.height;
  const int darkLuma = kBlackLuma + noise / 2;
  std::uint8_t* p = frame.data();
  switch (layout_) {
    case Layout::Rgb:  // bottom row first
      for (std::int32_t y = h - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < w; ++x) {
          const int level = lit ? sceneLevel(x, y, w, h) : noise / 2;
          *p++ = noisy(level - (lit ? 10 : 0), noise, random.next());
          *p++ = noisy(level, noise, random.next());
          *p++ = noisy(level + (lit ? 10 : 0), noise, random.next());
        }
      }
      break;
    case Layout::PackedYuyv:  // Y U Y V or U Y V Y: each pixel a luma and a chroma byte
    case Layout::PackedUyvy: {
      const std::size_t lumaAt = lumaByte();
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x, p += 2) {
          p[lumaAt] = noisy(lit ? sceneLevel(x, y, w, h) : darkLuma, noise, random.next());
          p[1 - lumaAt] = noisy(kNeutralChroma, noise / 2, random.next());
        }
      }
      break;
    }
    case Layout::LumaPlane: {  // the chroma bytes are alike, however they are arranged
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x)
          *p++ = noisy(lit ? sceneLevel(x, y, w, h) : darkLuma, noise, random.next());
      }
      for (std::size_t i = pixelCount(format_); i < frame.size(); ++i)
        *p++ = noisy(kNeutralChroma, noise / 2, random.next());
      break;
    }
  }
}

bool SyntheticSource::next(std::span<const std::uint8_t>& sample) {
  restoreStamped();
  shown_ = (shown_ + 1) % noiseFrames_.size();
  std::vector<std::uint8_t>& frame = noiseFrames_[shown_];
  if (!frame.empty()) {
    const int hits = drawHitCount();
    for (int i = 0; i < hits; ++i) {
      const auto x =
          static_cast<std::int32_t>(hitRandom_.below(static_cast<std::uint32_t>(format_.width)));
      const auto y =
          static_cast<std::int32_t>(hitRandom_.below(static_cast<std::uint32_t>(format_.height)));
      stampHit(frame, x, y);
    }
  }
  sample = frame;
  return true;
}

// Poisson by multiplying uniforms (Knuth); the cap also ends it where exp(-mean) underflows.
int SyntheticSource::drawHitCount() {
  const double mean = settings_.hitsPerFrame;
  if (mean <= 0.0) return 0;
  const double limit = std::exp(-mean);
  int count = 0;
  double product = hitRandom_.uniform();
  while (product > limit && count < kMaxHitsPerFrame) {
    ++count;
    product *= hitRandom_.uniform();
  }
  return count;
}

// A plus-shaped spot: the full brightness in the middle, half of it on the four sides.
void SyntheticSource::stampHit(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y) {
  const std::uint8_t full = settings_.brightness;
  const auto half = static_cast<std::uint8_t>(full / 2);
  raisePixel(frame, x, y, full);
  if (x > 0) raisePixel(frame, x - 1, y, half);
  if (x + 1 < format_.width) raisePixel(frame, x + 1, y, half);
  if (y > 0) raisePixel(frame, x, y - 1, half);
  if (y + 1 < format_.height) raisePixel(frame, x, y + 1, half);
}

void SyntheticSource::raisePixel(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y,
                                 std::uint8_t value) {
  const auto w = static_cast<std::size_t>(format_.width);
  std::size_t offset = 0;
  std::size_t count = 1;
  switch (layout_) {
    case Layout::Rgb:
      offset =
          (static_cast<std::size_t>(format_.height - 1 - y) * w + static_cast<std::size_t>(x)) * 3;
      count = 3;
      break;
    case Layout::PackedYuyv:
    case Layout::PackedUyvy:
      offset = (static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)) * 2 + lumaByte();
      break;
    case Layout::LumaPlane:
      offset = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
      break;
  }
  for (std::size_t i = offset; i < offset + count; ++i) {
    if (frame[i] >= value) continue;
    stamped_.push_back({i, frame[i]});
    frame[i] = value;
  }
}

// In reverse, so a byte under two hits gets its first saved (original) value back.
void SyntheticSource::restoreStamped() {
  if (noiseFrames_.empty()) return;
  std::vector<std::uint8_t>& frame = noiseFrames_[shown_];
  for (auto it = stamped_.rbegin(); it != stamped_.rend(); ++it)
    frame[it->offset] = it->value;
  stamped_.clear();
}

}  // namespace ravdel
