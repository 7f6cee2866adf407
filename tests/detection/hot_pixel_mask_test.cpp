#include "detection/hot_pixel_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "detection/frame_analysis.h"
#include "detection/peak_kernels.h"

namespace ravdel {
namespace {

void setPixel(FrameBitmap& frame, std::int32_t x, std::int32_t y, std::uint8_t b, std::uint8_t g,
              std::uint8_t r) {
  std::uint8_t* p = frame.row(y) + 3 * x;
  p[0] = b;
  p[1] = g;
  p[2] = r;
}

// The rule written out: scan bottom row first, left to right, not-less-than wins.
PeakPixel referencePeak(const FrameBitmap& frame, const HotPixelMask& mask) {
  PeakPixel peak;
  std::int64_t best = -1;
  for (std::int32_t y = frame.height() - 1; y >= 0; --y) {
    for (std::int32_t x = 0; x < frame.width(); ++x) {
      const std::uint8_t* p = frame.row(y) + 3 * x;
      if (mask.masked(x, y) || std::int64_t{sumOfSquares(p)} < best) continue;
      best = sumOfSquares(p);
      peak = {x, y, p[0], p[1], p[2]};
    }
  }
  return peak;
}

void expectSamePeak(const PeakPixel& a, const PeakPixel& b) {
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.b, b.b);
  EXPECT_EQ(a.g, b.g);
  EXPECT_EQ(a.r, b.r);
}

class MaskedPeakTest : public ::testing::TestWithParam<int> {
 protected:
  const PeakKernels& kernels() const { return availablePeakKernels(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Available, MaskedPeakTest, ::testing::Range(0, availablePeakKernelCount()),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return std::string(availablePeakKernels(param.param).name);
                         });

// Few levels make many ties; masks hit edges, neighbours and whole rows, so every stretch
// length from 0 up reaches the kernels.
TEST_P(MaskedPeakTest, MatchesTheRuleWithMaskedPixelsLeftOut) {
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    const auto w = static_cast<std::int32_t>(1 + random() % 40);
    const auto h = static_cast<std::int32_t>(1 + random() % 6);
    FrameBitmap frame(w, h);
    for (std::size_t i = 0; i < frame.byteCount(); ++i)
      frame.data()[i] = static_cast<std::uint8_t>(random() % 4 * 60);
    HotPixelMask mask(w, h);
    const auto masked = random() % static_cast<unsigned>(w * h + 1);
    for (unsigned k = 0; k < masked; ++k)
      mask.add(static_cast<std::int32_t>(random() % static_cast<unsigned>(w)),
               static_cast<std::int32_t>(random() % static_cast<unsigned>(h)));
    if (round % 10 == 0) {
      for (std::int32_t x = 0; x < w; ++x)
        mask.add(x, static_cast<std::int32_t>(random() % static_cast<unsigned>(h)));
    }
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " round " + std::to_string(round));
    expectSamePeak(findPeak(frame, mask, kernels()), referencePeak(frame, mask));
  }
}

// Each row's largest channel, as the converters note it.
void noteRowMaxima(FrameBitmap& frame) {
  std::vector<std::uint8_t> maxima;
  for (std::int32_t y = 0; y < frame.height(); ++y) {
    const std::uint8_t* row = frame.row(y);
    maxima.push_back(frame.width() == 0 ? 0 : *std::max_element(row, row + frame.stride()));
  }
  frame.setRowChannelMax(maxima);
}

// With the rows' largest channels known, rows that cannot hold the peak are passed over: the
// peak must stay the rule's, masked or not. Mostly dark rows with a few lit ones, levels
// where a row's ceiling (3 * max * max) meets another's floor (max * max), and ties. In every
// third frame most rows are grey, as a monochrome camera's are: a grey row's ceiling is its
// peak, which a coloured row with a larger channel may match (5 5 5 against 7 5 1).
TEST_P(MaskedPeakTest, RowsPassedOverNeverHoldThePeak) {
  std::mt19937 random(19);
  const std::uint8_t levels[] = {0, 5, 12, 60, 104, 105, 180, 181, 255};
  for (int round = 0; round < 600; ++round) {
    const auto w = static_cast<std::int32_t>(1 + random() % 40);
    const auto h = static_cast<std::int32_t>(1 + random() % 12);
    FrameBitmap frame(w, h);
    for (std::int32_t y = 0; y < h; ++y) {
      const bool lit = random() % 3 == 0;
      const bool grey = round % 3 == 2 && random() % 3 != 0;
      std::uint8_t* row = frame.row(y);
      for (std::size_t i = 0; i < frame.stride(); ++i) {
        row[i] = grey && i % 3 != 0 ? row[i - 1]
                 : lit              ? levels[random() % std::size(levels)]
                                    : static_cast<std::uint8_t>(random() % 13);
      }
    }
    HotPixelMask mask(w, h);
    const auto masked = round % 2 == 0 ? 0u : random() % static_cast<unsigned>(w * h / 4 + 1);
    for (unsigned k = 0; k < masked; ++k)
      mask.add(static_cast<std::int32_t>(random() % static_cast<unsigned>(w)),
               static_cast<std::int32_t>(random() % static_cast<unsigned>(h)));
    noteRowMaxima(frame);
    ASSERT_EQ(frame.rowChannelMax().size(), static_cast<std::size_t>(h));
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " round " + std::to_string(round));
    expectSamePeak(findPeak(frame, mask, kernels()), referencePeak(frame, mask));
  }
}

// A grey row's ceiling is its peak: 5 5 5 ties with the 7 5 1 of a row whose ceiling is
// higher and is searched first. The grey row wins from above and loses from below.
TEST_P(MaskedPeakTest, AGreyRowTiesWithTheCeilingOfARowSearchedBefore) {
  struct Case {
    std::int32_t greyRow;
    PeakPixel peak;
  };
  for (const Case& c : {Case{0, {4, 0, 5, 5, 5}}, Case{2, {2, 1, 7, 5, 1}}}) {
    FrameBitmap frame(6, 3);
    frame.fill(1, 1, 1);
    setPixel(frame, 4, c.greyRow, 5, 5, 5);
    setPixel(frame, 2, 1, 7, 5, 1);
    noteRowMaxima(frame);
    HotPixelMask elsewhere(6, 3);
    elsewhere.add(0, 1);
    SCOPED_TRACE("grey row " + std::to_string(c.greyRow));
    expectSamePeak(findPeak(frame), c.peak);
    expectSamePeak(findPeak(frame, elsewhere, kernels()), c.peak);
  }
}

TEST_P(MaskedPeakTest, AllMaskedGivesABlackPeakAndAForeignMaskIsIgnored) {
  FrameBitmap frame(9, 2);
  frame.fill(200, 200, 200);
  HotPixelMask all(9, 2);
  for (std::int32_t y = 0; y < 2; ++y) {
    for (std::int32_t x = 0; x < 9; ++x)
      all.add(x, y);
  }
  expectSamePeak(findPeak(frame, all, kernels()), PeakPixel{});
  HotPixelMask other(9, 3);  // another format's mask
  other.add(8, 0);
  expectSamePeak(findPeak(frame, other, kernels()), findPeak(frame));
}

TEST(HotPixelMaskTest, AddsEachPixelInsideOnce) {
  HotPixelMask mask(4, 3);
  EXPECT_TRUE(mask.add(3, 2));
  EXPECT_TRUE(mask.add(0, 2));
  EXPECT_FALSE(mask.add(3, 2));
  EXPECT_FALSE(mask.add(4, 0));
  EXPECT_FALSE(mask.add(0, -1));
  EXPECT_EQ(mask.count(), 2u);
  EXPECT_EQ(mask.maskedInRow(2), (std::vector<std::int32_t>{0, 3}));
  EXPECT_TRUE(mask.masked(0, 2));
  EXPECT_FALSE(mask.masked(1, 2));
  EXPECT_FALSE(mask.masked(9, 9));
}

// A dark frame of noise with hot pixels (always), a warm one (every other frame) and a hit
// somewhere new in each frame.
struct Sensor {
  static constexpr std::int32_t kW = 64, kH = 40;
  std::mt19937 random{11};
  std::vector<std::pair<std::int32_t, std::int32_t>> hot{{0, 0}, {63, 39}, {20, 10}, {21, 10}};
  std::pair<std::int32_t, std::int32_t> warm{30, 30};
  std::pair<std::int32_t, std::int32_t> lastHit;

  FrameBitmap frame(int index) {
    FrameBitmap f(kW, kH);
    for (std::size_t i = 0; i < f.byteCount(); ++i)
      f.data()[i] = static_cast<std::uint8_t>(random() % 20);
    for (const auto& [x, y] : hot)
      setPixel(f, x, y, 190, 200, 210);
    if (index % 2 == 0) setPixel(f, warm.first, warm.second, 160, 170, 180);
    do {
      lastHit = {static_cast<std::int32_t>(random() % kW),
                 static_cast<std::int32_t>(random() % kH)};
    } while (isFault(lastHit));
    setPixel(f, lastHit.first, lastHit.second, 170, 170, 170);
    return f;
  }
  bool isFault(std::pair<std::int32_t, std::int32_t> p) const {
    return p == warm || std::find(hot.begin(), hot.end(), p) != hot.end();
  }
};

// Hits come and go during calibration; only the faults are masked. Afterwards every hit on
// an unmasked pixel is the frame's peak and its event, the faults never are.
TEST(HotPixelCalibrationTest, MasksTheFaultsAndNeverAHit) {
  Sensor sensor;
  HotPixelCalibration calibration({.limit = 150, .share = 0.05, .frames = 40});
  for (int i = 0; i < 39; ++i)
    EXPECT_FALSE(calibration.addFrame(sensor.frame(i)));
  EXPECT_TRUE(calibration.addFrame(sensor.frame(39)));
  EXPECT_TRUE(calibration.addFrame(sensor.frame(40)));  // counted no more
  EXPECT_EQ(calibration.framesSeen(), 40);
  const HotPixelMask mask = calibration.mask();
  EXPECT_EQ(mask.count(), sensor.hot.size() + 1);
  for (const auto& [x, y] : sensor.hot)
    EXPECT_TRUE(mask.masked(x, y)) << x << "," << y;
  EXPECT_TRUE(mask.masked(sensor.warm.first, sensor.warm.second));

  AnalysisOptions options;
  options.mask = &mask;
  for (int i = 0; i < 200; ++i) {
    FrameBitmap work = sensor.frame(i);
    const FrameAnalysis a = analyseFrame(work, options);
    ASSERT_TRUE(a.event);
    EXPECT_EQ(std::make_pair(a.peak.x, a.peak.y), sensor.lastHit);
  }
}

TEST(HotPixelCalibrationTest, NeedsMoreThanTheShareAndStartsAgainOnANewSize) {
  const struct {
    int brightFrames;  // of 40, at one pixel
    bool masked;
  } cases[] = {{1, false}, {2, false}, {3, true}, {40, true}};  // 5 % of 40 is 2
  for (const auto& c : cases) {
    HotPixelCalibration calibration({.limit = 150, .share = 0.05, .frames = 40});
    for (int i = 0; i < 40; ++i) {
      FrameBitmap f(16, 8);
      f.fill(10, 10, 10);
      if (i < c.brightFrames) setPixel(f, 5, 5, 0, 0, 151);
      calibration.addFrame(f);
    }
    EXPECT_EQ(calibration.mask().masked(5, 5), c.masked) << c.brightFrames;
  }
  HotPixelCalibration calibration({.limit = 150, .share = 0.05, .frames = 4});
  FrameBitmap small(8, 8);
  small.fill(0, 0, 0);
  setPixel(small, 1, 1, 255, 255, 255);
  calibration.addFrame(small);
  calibration.addFrame(small);
  FrameBitmap large(16, 8);
  large.fill(0, 0, 0);
  calibration.addFrame(large);
  EXPECT_EQ(calibration.framesSeen(), 1);
  EXPECT_EQ(calibration.mask().width(), 16);
  EXPECT_EQ(calibration.mask().count(), 0u);
}

// Light on the sensor during calibration is no fault: masking it would blind the run, so the
// calibration starts over; a frame that ends one is still part of it.
TEST(HotPixelMaskingTest, CalibratesAgainWhenTooMuchIsBright) {
  using Step = HotPixelMasking::Step;
  HotPixelMasking masking({.calibration = {.limit = 150, .share = 0.05, .frames = 3},
                           .learner = {},
                           .maxMaskedShare = 0.01,
                           .fewMasked = 30});
  masking.restart(150);
  FrameBitmap lit(64, 40);  // 2560 pixels: 1 % is 25.6, so 31 masked is too many
  lit.fill(0, 0, 0);
  for (std::int32_t x = 0; x < 31; ++x)
    setPixel(lit, x, 3, 0, 0, 200);
  FrameBitmap faulty = lit;
  for (std::int32_t x = 1; x < 31; ++x)
    setPixel(faulty, x, 3, 0, 0, 0);
  const Step expected[] = {Step::calibrating, Step::calibrating, Step::tooBright, Step::calibrating,
                           Step::calibrating, Step::calibrated,  Step::monitoring};
  int frame = 0;
  for (const Step step : expected) {
    EXPECT_EQ(masking.calibrate(frame < 3 ? lit : faulty), step) << frame;
    ++frame;
  }
  EXPECT_EQ(masking.mask().count(), 1u);
  EXPECT_TRUE(masking.mask().masked(0, 3));
  EXPECT_FALSE(masking.calibrating());

  // A new run calibrates afresh, with its own limit.
  masking.restart(210);
  EXPECT_TRUE(masking.calibrating());
  EXPECT_EQ(masking.mask().count(), 0u);
  for (int i = 0; i < 3; ++i)
    masking.calibrate(faulty);
  EXPECT_EQ(masking.mask().count(), 0u);  // 200 is not above 210
}

TEST(HotPixelMaskTest, FileTextKeepsTheMaskAndRefusesAnythingElse) {
  HotPixelMask mask(5, 3);
  mask.add(4, 2);
  mask.add(0, 0);
  const std::string text = hotPixelMaskText(mask);
  EXPECT_EQ(text, "ravdel hot-pixel mask 5x3\n0 0\n4 2\n");
  HotPixelMask read;
  ASSERT_TRUE(parseHotPixelMaskText(text, read));
  EXPECT_EQ(hotPixelMaskText(read), text);
  ASSERT_TRUE(parseHotPixelMaskText("ravdel hot-pixel mask 2x2\n", read));
  EXPECT_EQ(read.count(), 0u);
  for (const char* bad : {"", "ravdel hot-pixel mask 5x3", "ravdel hot-pixel mask 0x3\n",
                          "ravdel hot-pixel mask 5x3\n5 0\n", "ravdel hot-pixel mask 5x3\n1 3\n",
                          "ravdel hot-pixel mask 5x3\n-1 0\n", "ravdel hot-pixel mask 5x3\n1 1",
                          "ravdel hot-pixel mask 5x3\n1,1\n", "hot-pixel mask 5x3\n"}) {
    EXPECT_FALSE(parseHotPixelMaskText(bad, read)) << bad;
    EXPECT_EQ(read.width(), 2) << bad;  // left as it was
  }
}

// A kept mask joins the calibration's when it is of the frame's size, and only then.
TEST(HotPixelMaskingTest, JoinsTheKeptMaskOfTheSameSize) {
  FrameBitmap dark(8, 4);
  dark.fill(0, 0, 0);
  const struct {
    std::int32_t width;
    std::size_t masked;
  } cases[] = {{8, 1}, {9, 0}};
  for (const auto& c : cases) {
    HotPixelMask kept(c.width, 4);
    kept.add(7, 3);
    HotPixelMasking masking({.calibration = {.limit = 150, .share = 0.05, .frames = 2},
                             .learner = {},
                             .maxMaskedShare = 0.01,
                             .fewMasked = 100});
    masking.restart(150, kept);
    masking.calibrate(dark);
    masking.calibrate(dark);
    EXPECT_EQ(masking.mask().count(), c.masked) << c.width;
  }
}

TEST(HotPixelLearnerTest, APixelPeakingRepeatedlyWithinTheWindowJoins) {
  HotPixelLearner learner({.events = 3, .windowSeconds = 60});
  EXPECT_FALSE(learner.noteEventPeak(4, 4, 0.0));
  EXPECT_FALSE(learner.noteEventPeak(5, 4, 1.0));  // another pixel counts apart
  EXPECT_FALSE(learner.noteEventPeak(4, 4, 50.0));
  EXPECT_TRUE(learner.noteEventPeak(4, 4, 59.0));
  // Joined pixels start afresh; events further apart than the window never add up.
  EXPECT_FALSE(learner.noteEventPeak(4, 4, 60.0));
  for (double t = 0; t < 10000; t += 61)
    EXPECT_FALSE(learner.noteEventPeak(7, 7, t)) << t;
  // Tidying away many single hits keeps a pixel that is busy now.
  EXPECT_FALSE(learner.noteEventPeak(100, 100, 20000.0));
  EXPECT_FALSE(learner.noteEventPeak(100, 100, 20000.1));
  for (int i = 0; i < 5000; ++i)
    EXPECT_FALSE(learner.noteEventPeak(i % 64, i / 64, 19990.0 + i * 0.01));
  EXPECT_TRUE(learner.noteEventPeak(100, 100, 20049.0));
}

}  // namespace
}  // namespace ravdel
