// The synthetic camera's sensor model: faults in fixed, seeded places, hit shapes, and the
// truth file that scoring relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/fourcc.h"
#include "capture/simulated/hit_truth.h"
#include "capture/simulated/simulated_camera.h"
#include "capture/simulated/synthetic_source.h"
#include "convert/frame_converter.h"
#include "detection/frame_analysis.h"
#include "detection/hot_pixel_mask.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

using Frame = std::vector<std::uint8_t>;
constexpr std::int32_t kW = 48;
constexpr std::int32_t kH = 32;

std::uint64_t fnv(std::uint64_t h, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t c : bytes) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::vector<Frame> frames(const SyntheticSource::Settings& settings, std::uint32_t code, int count,
                          std::vector<InjectedHit>* hits = nullptr) {
  SyntheticSource source(settings);
  source.start({code, kW, kH});
  std::vector<Frame> out;
  for (int i = 0; i < count; ++i) {
    std::span<const std::uint8_t> sample;
    EXPECT_TRUE(source.next(sample, {}));
    out.emplace_back(sample.begin(), sample.end());
    if (hits != nullptr)
      hits->insert(hits->end(), source.lastHits().begin(), source.lastHits().end());
  }
  return out;
}

// GREY frames are the luma plane alone: byte (x, y) is the pixel.
std::uint8_t at(const Frame& grey, std::int32_t x, std::int32_t y) {
  return grey[static_cast<std::size_t>(y * kW + x)];
}

// Frames made before the sensor model existed: a description without faults must keep them.
TEST(SyntheticSensorTest, WithoutFaultsTheBytesAreThoseOfEarlierVersions) {
  const struct {
    std::uint32_t code;
    std::uint64_t hash;
  } cases[] = {{fourcc::kYuy2, 0x9b77ea7d6e3e5676ull},
               {fourcc::kRgb, 0xdb360adf85c85576ull},
               {fourcc::kI420, 0xf26c894d96ec2e27ull},
               {fourcc::kUyvy, 0x11651861cf986639ull}};
  for (const auto& c : cases) {
    SCOPED_TRACE(fourccLabel(c.code));
    SyntheticSource::Settings settings;
    settings.hitsPerFrame = 0.5;
    SyntheticSource source(settings);
    source.start({c.code, 64, 48});
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (int i = 0; i < 40; ++i) {
      std::span<const std::uint8_t> sample;
      ASSERT_TRUE(source.next(sample, {}));
      h = fnv(h, sample);
    }
    EXPECT_EQ(h, c.hash);
  }
}

TEST(SyntheticSensorTest, HotPixelsStayLitAndWarmOnesFlicker) {
  SyntheticSource::Settings settings;
  settings.sensor.hotPixels = 5;
  settings.sensor.warmPixels = 5;
  settings.sensor.warmShare = 0.3;
  const std::vector<Frame> grey = frames(settings, fourcc::kGrey, 200);
  // A pixel bright (180 or more) in every frame is hot; one bright in some frames is warm.
  int hot = 0, warm = 0;
  for (std::int32_t y = 0; y < kH; ++y) {
    for (std::int32_t x = 0; x < kW; ++x) {
      const auto lit = std::count_if(grey.begin(), grey.end(),
                                     [&](const Frame& f) { return at(f, x, y) >= 180; });
      if (lit == 0) continue;
      if (lit == 200) {
        ++hot;
      } else {
        ++warm;
        EXPECT_NEAR(static_cast<double>(lit) / 200, 0.3, 0.12) << x << "," << y;
      }
    }
  }
  // Drawn places may coincide, never more.
  EXPECT_GE(hot, 4);
  EXPECT_LE(hot, 5);
  EXPECT_GE(warm, 4);
  EXPECT_LE(warm, 5);
  // The same seed and size give the same places; another seed others.
  EXPECT_EQ(frames(settings, fourcc::kGrey, 3), std::vector<Frame>(grey.begin(), grey.begin() + 3));
  settings.seed = 2;
  EXPECT_NE(frames(settings, fourcc::kGrey, 1)[0], grey[0]);
}

// Each fault changes only its own pixels, in every layout (RGB's rows are stored bottom-up).
TEST(SyntheticSensorTest, NoisyLinesTouchOnlyTheirLine) {
  SyntheticSource::Settings clean;
  for (const std::uint32_t code : {fourcc::kGrey, fourcc::kYuy2, fourcc::kRgb}) {
    SCOPED_TRACE(fourccLabel(code));
    SyntheticSource::Settings noisy = clean;
    noisy.sensor.noisyRow = 7;
    noisy.sensor.noisyColumn = 40;
    noisy.sensor.lineNoise = 200;
    const std::vector<Frame> a = frames(clean, code, 4), b = frames(noisy, code, 4);
    const std::size_t bytesPerPixel = code == fourcc::kRgb ? 3 : code == fourcc::kYuy2 ? 2 : 1;
    std::set<std::pair<int, int>> changed;
    int bright = 0;
    for (std::size_t f = 0; f < a.size(); ++f) {
      for (std::size_t i = 0; i < static_cast<std::size_t>(kW * kH) * bytesPerPixel; ++i) {
        if (a[f][i] == b[f][i]) continue;
        const auto pixel = static_cast<int>(i / bytesPerPixel);
        const int row = code == fourcc::kRgb ? kH - 1 - pixel / kW : pixel / kW;
        changed.insert({pixel % kW, row});
        bright += b[f][i] > 150;
      }
    }
    for (const auto& [x, y] : changed)
      EXPECT_TRUE(x == 40 || y == 7) << x << "," << y;
    EXPECT_GT(changed.size(), static_cast<std::size_t>(kW + kH) / 2);
    EXPECT_GT(bright, 0);
  }
}

double meanOf(const Frame& grey, std::int32_t x0, std::int32_t x1) {
  double sum = 0;
  for (std::int32_t y = 0; y < kH; ++y) {
    for (std::int32_t x = x0; x < x1; ++x)
      sum += at(grey, x, y);
  }
  return sum / (kH * (x1 - x0));
}

TEST(SyntheticSensorTest, LightLeakRisesAndFallsInItsTime) {
  SyntheticSource::Settings settings;
  settings.framesPerSecond = 10;
  settings.sensor.leakAt = 2.0;  // frames 21 to 40
  settings.sensor.leakFor = 2.0;
  settings.sensor.leakLevel = 100;
  const std::vector<Frame> leak = frames(settings, fourcc::kGrey, 50);
  const std::vector<Frame> dark = frames({}, fourcc::kGrey, 50);
  for (const int f : {0, 19, 40, 49})
    EXPECT_EQ(leak[static_cast<std::size_t>(f)], dark[static_cast<std::size_t>(f)]) << f;
  const double early = meanOf(leak[22], 0, kW), top = meanOf(leak[30], 0, kW),
               late = meanOf(leak[38], 0, kW), base = meanOf(dark[30], 0, kW);
  EXPECT_GT(early, base + 10);
  EXPECT_GT(top, early + 20);
  EXPECT_GT(top, late + 20);
  EXPECT_NEAR(top - base, 100 * (1 + 0.25) / 2, 6);  // the left edge's light fades to a quarter
  EXPECT_GT(meanOf(leak[30], 0, 4), meanOf(leak[30], kW - 4, kW) + 50);
}

// The truth describes what is in the frame: the peak at the place said, lit pixels inside the
// box, and frame numbers counted from the camera's opening across a format switch.
TEST(SyntheticSensorTest, HitsOfEachShapeAreWhereTheTruthSays) {
  SyntheticSource::Settings settings;
  settings.hitsPerFrame = 0.4;
  settings.noise = 0;
  settings.sensor.trackShare = 0.4;
  settings.sensor.longTrackShare = 0.3;
  SyntheticSource source(settings);
  std::set<HitShape> shapes;
  std::uint64_t lastFrame = 0;
  for (int run = 0; run < 2; ++run) {
    source.start({fourcc::kGrey, kW + run, kH});  // a switch restarts the stream
    const std::int32_t w = kW + run;
    for (int i = 0; i < 100; ++i) {
      std::span<const std::uint8_t> sample;
      ASSERT_TRUE(source.next(sample, {}));
      for (const InjectedHit& hit : source.lastHits()) {
        SCOPED_TRACE(truthJsonLine(hit));
        shapes.insert(hit.shape);
        EXPECT_GT(hit.frame, lastFrame);
        EXPECT_GE(sample[static_cast<std::size_t>(hit.y * w + hit.x)], hit.peak);
        EXPECT_TRUE(hit.x0 <= hit.x && hit.x <= hit.x1 && hit.y0 <= hit.y && hit.y <= hit.y1);
        EXPECT_EQ(hit.peak, hit.shape == HitShape::LongTrack ? 230 * 55 / 100 : 230);
        const int span = std::max(hit.x1 - hit.x0, hit.y1 - hit.y0) + 1;
        const int longest = hit.shape == HitShape::Spot ? 3 : hit.shape == HitShape::Track ? 8 : 60;
        EXPECT_LE(span, longest);
      }
      if (!source.lastHits().empty()) lastFrame = source.lastHits().back().frame;
    }
  }
  EXPECT_EQ(shapes.size(), 3u);
  EXPECT_GT(lastFrame, 100u);
}

// The whole road on a faulty sensor: calibration masks the faults, and every hit that does
// not land on a masked pixel is then the peak of its frame's event.
TEST(SyntheticSensorTest, TheMaskNeverLosesAHitOffIt) {
  SimulatedDescription d;
  std::string error;
  ASSERT_TRUE(parseSimulatedDescription(
      "synthetic:format=I420,size=160x120,hits=6,hot=20,warm=10,warm-share=0.3,seed=4", d, error))
      << error;
  SyntheticSource source(syntheticSettings(d));
  source.start({fourcc::kI420, 160, 120});
  FrameConverter converter;
  FrameBitmap frame(160, 120);
  HotPixelCalibration calibration({.limit = 150, .share = 0.05, .frames = 90});
  const auto nextFrame = [&] {
    std::span<const std::uint8_t> sample;
    EXPECT_TRUE(source.next(sample, {}));
    converter.ConvertFrame(fourcc::kI420, static_cast<std::int32_t>(sample.size()), sample.data(),
                           frame);
  };
  while (!calibration.done()) {
    nextFrame();
    calibration.addFrame(frame);
  }
  const HotPixelMask mask = calibration.mask();
  EXPECT_GE(mask.count(), 25u);  // the hot ones and most warm ones
  AnalysisOptions options;
  options.mask = &mask;
  int checked = 0;
  for (int i = 0; i < 1500; ++i) {
    nextFrame();
    const FrameAnalysis a = analyseFrame(frame, options);
    const std::vector<InjectedHit>& hits = source.lastHits();
    if (hits.size() != 1 || mask.masked(hits[0].x, hits[0].y)) continue;
    ++checked;
    ASSERT_TRUE(a.event) << truthJsonLine(hits[0]);
    EXPECT_EQ(a.peak.x, hits[0].x);
    EXPECT_EQ(a.peak.y, hits[0].y);
  }
  EXPECT_GT(checked, 200);
}

class SyntheticTruthFileTest : public test::TempDirTest {};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

TEST_F(SyntheticTruthFileTest, EveryHitGoesToTheFileAsALine) {
  SyntheticSource::Settings settings;
  settings.hitsPerFrame = 1.5;
  settings.framesPerSecond = 20;
  SyntheticSource source(settings);
  std::string error;
  ASSERT_TRUE(source.openTruth(path("truth.jsonl"), error)) << error;
  source.start({fourcc::kYuy2, kW, kH});
  std::vector<std::string> expected;
  for (int i = 0; i < 30; ++i) {
    std::span<const std::uint8_t> sample;
    ASSERT_TRUE(source.next(sample, {}));
    for (const InjectedHit& hit : source.lastHits())
      expected.push_back(truthJsonLine(hit));
  }
  ASSERT_GT(expected.size(), 20u);
  EXPECT_EQ(lines(read(path("truth.jsonl"))), expected);

  InjectedHit hit;
  hit.frame = 21;
  hit.seconds = 1.0;
  hit.x = 5, hit.y = 7, hit.x0 = 4, hit.y0 = 6, hit.x1 = 6, hit.y1 = 8;
  hit.shape = HitShape::LongTrack;
  hit.peak = 126;
  EXPECT_EQ(truthJsonLine(hit),
            "{\"frame\":21,\"t_s\":1.000,\"x\":5,\"y\":7,\"shape\":\"long-track\",\"peak\":126,"
            "\"x0\":4,\"y0\":6,\"x1\":6,\"y1\":8,\"t_us\":0}");
  hit.utcUs = 1796718413123456;
  hit.shower = 1796718413002;
  EXPECT_EQ(truthJsonLine(hit).substr(truthJsonLine(hit).find("\"t_us\"")),
            "\"t_us\":1796718413123456,\"shower\":1796718413002}");
}

// The stream clock of one camera: frames of `periodUs` ending at start + N periods.
std::vector<InjectedHit> showerHits(const SyntheticSource::Settings& settings, std::int64_t startUs,
                                    std::int64_t periodUs, int frames) {
  SyntheticSource source(settings);
  source.start({fourcc::kYuy2, kW, kH});
  std::vector<InjectedHit> hits;
  for (int n = 1; n <= frames; ++n) {
    std::span<const std::uint8_t> sample;
    EXPECT_TRUE(source.next(sample, {startUs + n * periodUs, periodUs}));
    for (const InjectedHit& hit : source.lastHits()) {
      if (!hit.shower) continue;
      EXPECT_GT(hit.utcUs, startUs + (n - 1) * periodUs) << "in the frame holding its instant";
      EXPECT_LE(hit.utcUs, startUs + n * periodUs);
      hits.push_back(hit);
    }
  }
  return hits;
}

std::vector<std::pair<std::uint64_t, std::int64_t>> showersOf(
    const std::vector<InjectedHit>& hits) {
  std::vector<std::pair<std::uint64_t, std::int64_t>> showers;
  for (const InjectedHit& hit : hits)
    showers.emplace_back(*hit.shower, hit.utcUs);
  return showers;
}

// Cameras that share a shower seed see the same showers at the same instants whatever their
// frame rate, start or own seed; a share below 1 leaves each camera a subset of its own.
TEST(SyntheticShowerTest, CamerasWithOneSeedSeeTheSameShowersEachInTheFrameHoldingIt) {
  SyntheticSource::Settings a;
  a.hitsPerFrame = 0;
  a.showers = {.perSecond = 2.0, .seed = 11, .share = 1.0};
  a.seed = 3;
  SyntheticSource::Settings b = a;
  b.seed = 4;
  constexpr std::int64_t kStart = 1796718400000000;
  const auto at15 = showerHits(a, kStart, 1000000 / 15, 15 * 60);
  const auto at30 = showerHits(b, kStart + 12345, 1000000 / 30, 30 * 60);
  ASSERT_GT(at15.size(), 80u) << "about 2 a second for 60 s";
  ASSERT_LT(at15.size(), 170u);
  const auto seen = showersOf(at15);
  std::vector<std::pair<std::uint64_t, std::int64_t>> both;
  for (const auto& shower : showersOf(at30)) {
    if (std::find(seen.begin(), seen.end(), shower) != seen.end()) both.push_back(shower);
  }
  EXPECT_GE(both.size() + 2, seen.size()) << "only the edges of the two windows differ";
  EXPECT_NE(at15[0].x * 1000 + at15[0].y, at30[0].x * 1000 + at30[0].y) << "own places";

  SyntheticSource::Settings half = a;
  half.showers.share = 0.5;
  const auto shared = showersOf(showerHits(half, kStart, 1000000 / 15, 15 * 60));
  EXPECT_GT(shared.size(), seen.size() / 4);
  EXPECT_LT(shared.size(), seen.size() * 3 / 4);
  for (const auto& shower : shared)
    EXPECT_NE(std::find(seen.begin(), seen.end(), shower), seen.end()) << "a subset";

  SyntheticSource::Settings other = a;
  other.showers.seed = 12;
  const auto elsewhere = showersOf(showerHits(other, kStart, 1000000 / 15, 15 * 60));
  EXPECT_NE(elsewhere, seen);
}

TEST_F(SyntheticTruthFileTest, ACameraWhoseTruthCannotBeWrittenDoesNotStart) {
  std::string error;
  const auto backend = SimulatedBackend::fromDescription(
      "synthetic:truth=" + path("no-such-folder/truth.jsonl"), error);
  ASSERT_NE(backend, nullptr) << error;
  const auto device = backend->createSimulatedDevice();
  std::string found;
  EXPECT_EQ(device->StartVideo("", found), kEFail);
  EXPECT_FALSE(device->running());
}

}  // namespace
}  // namespace ravdel
