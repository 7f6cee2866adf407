#include "capture/simulated/synthetic_source.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/fourcc.h"
#include "capture/capture_device.h"
#include "convert/frame_converter.h"

namespace ravdel {
namespace {

constexpr int kBlackLuma = 16;  // black in the video range of Y
constexpr int kNeutralChroma = 128;
// Hot and warm pixels shine at 180 to 255: above the default limit after conversion.
constexpr std::uint8_t kDefectLowest = 180;
constexpr std::uint32_t kDefectLevels = 76;
// Short tracks are 3 to 8 pixels long at full brightness, long ones 20 to 60 at 55 % of it.
constexpr std::uint32_t kTrackShortest = 3;
constexpr std::uint32_t kTrackLengths = 6;
constexpr std::uint32_t kLongTrackShortest = 20;
constexpr std::uint32_t kLongTrackLengths = 41;
constexpr int kLongTrackPercent = 55;
// The leak's light at the right edge, as a share of that at the left edge.
constexpr double kLeakRightEdge = 0.25;

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

SyntheticSource::Settings syntheticSettings(const SimulatedDescription& d) {
  SyntheticSource::Settings s;
  s.framesPerSecond = d.fps > 0.0 ? d.fps : kUnpacedHitFps;
  s.hitsPerFrame = d.hitsPerSecond / s.framesPerSecond;
  s.brightness = d.brightness;
  s.noise = d.noise;
  s.seed = d.seed;
  s.uncovered = d.uncovered;
  s.sensor = d.sensor;
  s.showers = d.showers;
  return s;
}

SyntheticSource::SyntheticSource(const Settings& settings)
    : settings_(settings),
      showers_(settings.showers, settings.seed),
      hitRandom_(settings.seed ^ 0x68697473u),
      sensorRandom_(settings.seed ^ 0x73656e73u) {}

bool SyntheticSource::openTruth(const std::string& path, std::string& error) {
  if (truth_.open(path)) return true;
  error = truth_.error();
  return false;
}

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
  placeDefects();
}

// Hot pixels go into the noise frames for good; warm ones are only placed here. The places
// depend on the seed and the frame size alone.
void SyntheticSource::placeDefects() {
  warm_.clear();
  const SensorModel& m = settings_.sensor;
  if (m.hotPixels + m.warmPixels == 0 || noiseFrames_.front().empty()) return;
  SplitMix64 places(settings_.seed ^ (static_cast<std::uint64_t>(format_.width) << 32) ^
                    static_cast<std::uint64_t>(format_.height) ^ 0x686f74u);
  const auto draw = [&] {
    const auto x =
        static_cast<std::int32_t>(places.below(static_cast<std::uint32_t>(format_.width)));
    const auto y =
        static_cast<std::int32_t>(places.below(static_cast<std::uint32_t>(format_.height)));
    return Defect{x, y, static_cast<std::uint8_t>(kDefectLowest + places.below(kDefectLevels))};
  };
  for (std::uint32_t i = 0; i < m.hotPixels; ++i) {
    const Defect hot = draw();
    const std::size_t at = pixelOffset(hot.x, hot.y);
    for (std::vector<std::uint8_t>& frame : noiseFrames_)
      std::fill_n(frame.begin() + static_cast<std::ptrdiff_t>(at), brightnessBytes(), hot.level);
  }
  for (std::uint32_t i = 0; i < m.warmPixels; ++i)
    warm_.push_back(draw());
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

bool SyntheticSource::next(std::span<const std::uint8_t>& sample, const FrameMoment& moment) {
  restoreStamped();
  shown_ = (shown_ + 1) % noiseFrames_.size();
  ++frameNumber_;
  lastHits_.clear();
  std::vector<std::uint8_t>& frame = noiseFrames_[shown_];
  if (!frame.empty()) {
    stampSensor(frame);
    const int hits = drawHitCount();
    for (int i = 0; i < hits; ++i) {
      const auto x =
          static_cast<std::int32_t>(hitRandom_.below(static_cast<std::uint32_t>(format_.width)));
      const auto y =
          static_cast<std::int32_t>(hitRandom_.below(static_cast<std::uint32_t>(format_.height)));
      lastHits_.push_back(stampHit(frame, x, y));
      lastHits_.back().utcUs = moment.utcUs == 0 ? 0 : moment.utcUs - moment.periodUs / 2;
    }
    stampShowers(frame, moment);
  }
  if (!recordTruth()) return false;
  const double leak = frame.empty() ? 0.0 : leakHeight();
  sample = leak > 0.0 ? std::span<const std::uint8_t>(addLeak(frame, leak))
                      : std::span<const std::uint8_t>(frame);
  return true;
}

bool SyntheticSource::recordTruth() {
  if (!truth_.isOpen()) return true;
  for (const InjectedHit& hit : lastHits_) {
    if (!truth_.appendLine(truthJsonLine(hit))) {
      captureLog("truth file '" + truth_.path() + "': " + truth_.error());
      return false;
    }
  }
  return true;
}

void SyntheticSource::stampSensor(std::vector<std::uint8_t>& frame) {
  const SensorModel& m = settings_.sensor;
  for (const Defect& warm : warm_) {
    if (sensorRandom_.uniform() < m.warmShare) raisePixel(frame, warm.x, warm.y, warm.level);
  }
  if (m.noisyRow >= 0 && m.noisyRow < format_.height) stampLine(frame, true, m.noisyRow);
  if (m.noisyColumn >= 0 && m.noisyColumn < format_.width) stampLine(frame, false, m.noisyColumn);
}

// Every pixel of the line gets a fresh level between the dark level and line-noise above it.
void SyntheticSource::stampLine(std::vector<std::uint8_t>& frame, bool row, std::int32_t at) {
  const auto dark =
      static_cast<std::uint32_t>((layout_ == Layout::Rgb ? 0 : kBlackLuma) + settings_.noise / 2);
  const std::int32_t length = row ? format_.width : format_.height;
  const std::uint32_t spread = std::uint32_t{settings_.sensor.lineNoise} + 1;
  for (std::int32_t i = 0; i < length; ++i) {
    const auto level =
        static_cast<std::uint8_t>(std::min<std::uint32_t>(255, dark + sensorRandom_.below(spread)));
    raisePixel(frame, row ? i : at, row ? at : i, level);
  }
}

double SyntheticSource::leakHeight() const {
  const SensorModel& m = settings_.sensor;
  if (m.leakFor <= 0.0) return 0.0;
  const double t = static_cast<double>(frameNumber_ - 1) / settings_.framesPerSecond - m.leakAt;
  if (t < 0.0 || t >= m.leakFor) return 0.0;
  return m.leakLevel * std::sin(std::numbers::pi * t / m.leakFor);
}

// Brightest at the left edge, fading to a quarter at the right: light through the tape's edge.
const std::vector<std::uint8_t>& SyntheticSource::addLeak(const std::vector<std::uint8_t>& frame,
                                                          double height) {
  const std::int32_t w = format_.width;
  std::vector<int> light(static_cast<std::size_t>(w));
  for (std::int32_t x = 0; x < w; ++x)
    light[static_cast<std::size_t>(x)] =
        static_cast<int>(height * (1.0 - (1.0 - kLeakRightEdge) * x / std::max(1, w - 1)));
  leakFrame_ = frame;
  for (std::int32_t y = 0; y < format_.height; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      const std::size_t at = pixelOffset(x, y);
      for (std::size_t i = at; i < at + brightnessBytes(); ++i)
        leakFrame_[i] = static_cast<std::uint8_t>(
            std::min(255, leakFrame_[i] + light[static_cast<std::size_t>(x)]));
    }
  }
  return leakFrame_;
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

// Without track shares no draw is made, so hits land where they always did.
HitShape SyntheticSource::drawShape() {
  const SensorModel& m = settings_.sensor;
  if (m.trackShare + m.longTrackShare <= 0.0) return HitShape::Spot;
  const double u = hitRandom_.uniform();
  if (u < m.trackShare) return HitShape::Track;
  return u < m.trackShare + m.longTrackShare ? HitShape::LongTrack : HitShape::Spot;
}

// A spot is plus-shaped: the full brightness in the middle, half of it on the four sides.
InjectedHit SyntheticSource::stampHit(std::vector<std::uint8_t>& frame, std::int32_t x,
                                      std::int32_t y) {
  const HitShape shape = drawShape();
  if (shape == HitShape::Spot) return stampSpot(frame, x, y);
  InjectedHit hit = newHit(x, y);
  hit.shape = shape;
  stampTrack(frame, hit);
  return hit;
}

InjectedHit SyntheticSource::newHit(std::int32_t x, std::int32_t y) const {
  InjectedHit hit;
  hit.frame = frameNumber_;
  hit.seconds = static_cast<double>(frameNumber_ - 1) / settings_.framesPerSecond;
  hit.x = hit.x0 = hit.x1 = x;
  hit.y = hit.y0 = hit.y1 = y;
  return hit;
}

InjectedHit SyntheticSource::stampSpot(std::vector<std::uint8_t>& frame, std::int32_t x,
                                       std::int32_t y) {
  InjectedHit hit = newHit(x, y);
  const std::uint8_t full = settings_.brightness;
  const auto half = static_cast<std::uint8_t>(full / 2);
  hit.peak = full;
  raisePixel(frame, x, y, full);
  if (x > 0) raisePixel(frame, x - 1, y, half);
  if (x + 1 < format_.width) raisePixel(frame, x + 1, y, half);
  if (y > 0) raisePixel(frame, x, y - 1, half);
  if (y + 1 < format_.height) raisePixel(frame, x, y + 1, half);
  hit.x0 = std::max(0, x - 1);
  hit.y0 = std::max(0, y - 1);
  hit.x1 = std::min(format_.width - 1, x + 1);
  hit.y1 = std::min(format_.height - 1, y + 1);
  return hit;
}

// A shower is a spot at full brightness where it strikes this camera, at its own instant.
void SyntheticSource::stampShowers(std::vector<std::uint8_t>& frame, const FrameMoment& moment) {
  if (!showers_.active() || moment.utcUs == 0) return;
  for (const Shower& shower : showers_.seenIn(moment.utcUs - moment.periodUs, moment.utcUs)) {
    std::int32_t x = 0, y = 0;
    showers_.place(shower, format_.width, format_.height, x, y);
    InjectedHit hit = stampSpot(frame, x, y);
    hit.utcUs = shower.utcUs;
    hit.shower = shower.number;
    lastHits_.push_back(hit);
  }
}

// A straight line of even brightness from the hit's place in a random direction; the part
// outside the frame is lost, as on a sensor.
void SyntheticSource::stampTrack(std::vector<std::uint8_t>& frame, InjectedHit& hit) {
  const bool faint = hit.shape == HitShape::LongTrack;
  const std::uint32_t length = faint ? kLongTrackShortest + hitRandom_.below(kLongTrackLengths)
                                     : kTrackShortest + hitRandom_.below(kTrackLengths);
  const double angle = 2.0 * std::numbers::pi * hitRandom_.uniform();
  hit.peak = faint ? static_cast<std::uint8_t>(settings_.brightness * kLongTrackPercent / 100)
                   : settings_.brightness;
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto x = hit.x + static_cast<std::int32_t>(std::lround(i * std::cos(angle)));
    const auto y = hit.y + static_cast<std::int32_t>(std::lround(i * std::sin(angle)));
    if (x < 0 || y < 0 || x >= format_.width || y >= format_.height) break;
    raisePixel(frame, x, y, hit.peak);
    hit.x0 = std::min(hit.x0, x);
    hit.y0 = std::min(hit.y0, y);
    hit.x1 = std::max(hit.x1, x);
    hit.y1 = std::max(hit.y1, y);
  }
}

std::size_t SyntheticSource::pixelOffset(std::int32_t x, std::int32_t y) const {
  const auto w = static_cast<std::size_t>(format_.width);
  switch (layout_) {
    case Layout::Rgb:  // bottom row first
      return (static_cast<std::size_t>(format_.height - 1 - y) * w + static_cast<std::size_t>(x)) *
             3;
    case Layout::PackedYuyv:
    case Layout::PackedUyvy:
      return (static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)) * 2 + lumaByte();
    case Layout::LumaPlane:
      break;
  }
  return static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
}

void SyntheticSource::raisePixel(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y,
                                 std::uint8_t value) {
  const std::size_t offset = pixelOffset(x, y);
  for (std::size_t i = offset; i < offset + brightnessBytes(); ++i) {
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
