#include "detection/frame_analysis.h"

#include <gtest/gtest.h>

#include <random>

#include "base/fourcc.h"
#include "convert/frame_converter.h"
#include "detection/peak_kernels.h"

namespace ravdel {
namespace {

struct Bgr {
  std::uint8_t b, g, r;
};

void setPixel(FrameBitmap& f, std::int32_t x, std::int32_t y, Bgr c) {
  std::uint8_t* p = f.row(y) + 3 * static_cast<std::size_t>(x);
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

Bgr pixelAt(const FrameBitmap& f, std::int32_t x, std::int32_t y) {
  const std::uint8_t* p = f.row(y) + 3 * static_cast<std::size_t>(x);
  return {p[0], p[1], p[2]};
}

FrameBitmap darkFrame(std::int32_t w = 64, std::int32_t h = 48) {
  FrameBitmap f(w, h);
  f.fill(10, 10, 10);
  return f;
}

TEST(FindPeakTest, BlackFramePeaksAtTheRightEndOfTheTopRow) {
  FrameBitmap f(640, 480);
  f.fill(0, 0, 0);
  const FrameAnalysis a = analyseFrame(f, {});
  EXPECT_EQ(a.peak.x, 639);
  EXPECT_EQ(a.peak.y, 0);
  EXPECT_EQ(a.peak.r + a.peak.g + a.peak.b, 0);
  EXPECT_FALSE(a.event);
}

// Equal sums of squares: the later pixel in the scan (bottom row first) wins.
TEST(FindPeakTest, TiesGoToTheTopmostRowAndRightmostColumn) {
  struct Case {
    const char* name;
    Bgr top, bottom;
    bool event;  // at limit 190
    Bgr peak;
  };
  const Case cases[] = {
      {"bright red below", {0, 160, 120}, {0, 0, 200}, false, {0, 160, 120}},
      {"bright red above", {0, 0, 200}, {0, 160, 120}, true, {0, 0, 200}},
  };
  for (const Case& c : cases) {
    FrameBitmap f = darkFrame();
    setPixel(f, 5, 0, c.top);
    setPixel(f, 40, 47, c.bottom);
    AnalysisOptions options;
    options.limit = 190;
    const FrameAnalysis a = analyseFrame(f, options);
    EXPECT_EQ(a.event, c.event) << c.name;
    EXPECT_EQ(a.peak.y, 0) << c.name;
    EXPECT_EQ(a.peak.r, c.peak.r) << c.name;
    EXPECT_EQ(a.peak.g, c.peak.g) << c.name;
  }
  FrameBitmap row = darkFrame();
  setPixel(row, 3, 10, {50, 60, 70});
  setPixel(row, 30, 10, {70, 60, 50});
  const PeakPixel p = findPeak(row);
  EXPECT_EQ(p.x, 30);
  EXPECT_EQ(p.y, 10);
}

// The search by rows must agree with a plain scan in the stated order, ties included.
TEST(FindPeakTest, AgreesWithAPlainScanOnRandomFrames) {
  std::mt19937 rng(42);
  for (int round = 0; round < 200; ++round) {
    const auto w = static_cast<std::int32_t>(1 + rng() % 70);
    const auto h = static_cast<std::int32_t>(1 + rng() % 40);
    FrameBitmap f(w, h);
    const unsigned levels = 1 + rng() % 4;  // few distinct values force many ties
    for (std::size_t i = 0; i < f.byteCount(); ++i) {
      f.data()[i] = static_cast<std::uint8_t>((rng() % levels) * 85);
    }
    std::uint32_t best = 0;
    std::int32_t bx = 0, by = 0;
    for (std::int32_t y = h - 1; y >= 0; --y) {
      for (std::int32_t x = 0; x < w; ++x) {
        const std::uint32_t s = sumOfSquares(f.row(y) + 3 * static_cast<std::size_t>(x));
        if (s >= best) {
          best = s;
          bx = x;
          by = y;
        }
      }
    }
    const PeakPixel p = findPeak(f);
    ASSERT_EQ(p.x, bx) << w << "x" << h << " round " << round;
    ASSERT_EQ(p.y, by) << w << "x" << h << " round " << round;
  }
}

TEST(AnalyseFrameTest, EventNeedsAPeakChannelStrictlyAboveTheLimit) {
  struct Case {
    const char* name;
    std::uint8_t limit;
    std::vector<Bgr> pixels;
    bool event;
  };
  const Case cases[] = {
      {"grey peak hides a red pixel", 200, {{0, 0, 210}, {150, 150, 150}}, false},
      {"equal to the limit", 150, {{150, 150, 150}}, false},
      {"one above the limit in blue", 150, {{151, 0, 0}}, true},
      {"limit 255", 255, {{255, 255, 255}}, false},
      {"limit 0 and a dark frame", 0, {}, true},
  };
  for (const Case& c : cases) {
    FrameBitmap f = darkFrame();
    std::int32_t x = 1;
    for (const Bgr& p : c.pixels)
      setPixel(f, x += 7, 20, p);
    AnalysisOptions options;
    options.limit = c.limit;
    EXPECT_EQ(analyseFrame(f, options).event, c.event) << c.name;
  }
}

// Grey and inverse change only the picture: detection and readout see the captured colours.
TEST(AnalyseFrameTest, GreyAndInverseChangeThePictureNotTheDecision) {
  FrameBitmap f = darkFrame();
  setPixel(f, 9, 9, {0, 0, 255});
  AnalysisOptions options;
  options.gray = true;
  options.inverse = true;
  const FrameAnalysis a = analyseFrame(f, options);
  EXPECT_TRUE(a.event);
  EXPECT_EQ(a.peak.r, 255);
  EXPECT_EQ(a.peak.b, 0);
  const Bgr shown = pixelAt(f, 9, 9);
  EXPECT_EQ(shown.b, 178);
  EXPECT_EQ(shown.g, 178);
  EXPECT_EQ(shown.r, 178);
  const Bgr background = pixelAt(f, 0, 0);  // (10,10,10) inverted to 245, grey stays 245
  EXPECT_EQ(background.r, 245);
}

TEST(AnalyseFrameTest, LensCheckStopsAtAMeanOfFortyExactly) {
  struct Case {
    std::uint8_t low, high;  // half the pixels each; the mean is their average
    bool uncovered;
  };
  const Case cases[] = {{30, 50, true}, {40, 40, true}, {30, 49, false}};
  for (const Case& c : cases) {
    FrameBitmap f(10, 10);
    for (std::int32_t y = 0; y < 10; ++y) {
      for (std::int32_t x = 0; x < 10; ++x)
        setPixel(f, x, y, {0, 0, y < 5 ? c.low : c.high});
    }
    AnalysisOptions options;
    options.lensCheck = true;
    options.limit = 45;
    options.inverse = true;
    const FrameAnalysis a = analyseFrame(f, options);
    ASSERT_TRUE(a.lensMean.has_value());
    EXPECT_EQ(a.lensUncovered, c.uncovered) << *a.lensMean;
    if (c.uncovered) {
      EXPECT_FALSE(a.event);
      EXPECT_EQ(pixelAt(f, 0, 0).r, c.low) << "no display options after a failed check";
    } else {
      EXPECT_TRUE(a.event) << "a frame just below the mean is analysed normally";
    }
  }
  FrameBitmap bright(8, 8);
  bright.fill(200, 200, 200);
  EXPECT_FALSE(analyseFrame(bright, {}).lensUncovered) << "only the first frame is checked";
}

TEST(ThumbnailTest, LongerSideIsSixtyFourPixels) {
  struct Case {
    std::int32_t w, h, tw, th;
  };
  const Case cases[] = {
      {640, 480, 64, 48}, {352, 288, 64, 52}, {480, 640, 48, 64}, {720, 720, 64, 64}};
  for (const Case& c : cases) {
    const ThumbnailSize s = thumbnailSize(c.w, c.h);
    EXPECT_EQ(s.width, c.tw) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.th) << c.w << "x" << c.h;
  }
}

TEST(ThumbnailTest, DropsRowsAndColumnsInsteadOfAveraging) {
  FrameBitmap f(640, 480);
  for (std::int32_t y = 0; y < 480; ++y) {
    for (std::int32_t x = 0; x < 640; ++x) {
      const std::uint8_t v = ((x + y) % 2 == 0) ? 255 : 0;
      setPixel(f, x, y, {v, v, v});
    }
  }
  const FrameBitmap t = makeThumbnail(f, thumbnailSize(640, 480));
  ASSERT_EQ(t.width(), 64);
  ASSERT_EQ(t.height(), 48);
  for (std::size_t i = 0; i < t.byteCount(); ++i) {
    ASSERT_TRUE(t.data()[i] == 0 || t.data()[i] == 255) << i;
  }
}

// An unconvertible sample shows the notice in white cells, which must not count as a hit.
TEST(AnalyseFrameTest, TheFormatNoticeIsNeverAnEvent) {
  FrameConverter converter;
  FrameBitmap frame = darkFrame(640, 480);
  const std::vector<std::uint8_t> sample(100, 0);
  ASSERT_EQ(converter.ConvertFrame(makeFourCC('U', 'Y', 'V', 'Y'), 100, sample.data(), frame),
            ConvertOutcome::Notice);
  FrameBitmap work = frame;
  const FrameAnalysis a = analyseFrame(work, {});
  EXPECT_FALSE(a.converted);
  EXPECT_EQ(a.peak.r, 255);
  EXPECT_FALSE(a.event);
}

TEST(AnalyseFrameTest, EmptyFrameIsHandled) {
  FrameBitmap empty;
  AnalysisOptions options;
  options.lensCheck = true;
  const FrameAnalysis a = analyseFrame(empty, options);
  EXPECT_FALSE(a.event);
  EXPECT_FALSE(a.lensUncovered);
  EXPECT_EQ(makeThumbnail(empty, thumbnailSize(0, 0)).width(), 64);
}

}  // namespace
}  // namespace ravdel
