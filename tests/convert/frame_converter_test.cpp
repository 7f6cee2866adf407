#include "convert/frame_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "base/fourcc.h"
#include "convert/bitmap_text.h"
#include "convert/yuv_tables.h"
#include "support/jpeg_encode.h"

namespace ravdel {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::array<std::uint8_t, 3> pixelAt(const FrameBitmap& b, std::int32_t x, std::int32_t y) {
  const std::uint8_t* p = b.row(y) + 3 * static_cast<std::size_t>(x);
  return {p[0], p[1], p[2]};
}

std::array<std::uint8_t, 3> expectedPixel(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
  std::array<std::uint8_t, 3> out{};
  yuvToBgr(yuvTables(), y, u, v, out.data());
  return out;
}

FrameBitmap patterned(std::int32_t w, std::int32_t h, unsigned seed) {
  FrameBitmap b(w, h);
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < b.byteCount(); ++i)
    b.data()[i] = static_cast<std::uint8_t>(rng());
  return b;
}

// The previous picture with the two notice lines drawn over it.
FrameBitmap withNotice(FrameBitmap previous, const std::string& secondLine) {
  drawText(previous, 0, 0, "Unknown compression");
  drawText(previous, 0, textHeight(), secondLine);
  return previous;
}

int convert(FrameConverter& c, std::uint32_t code, const Bytes& sample, FrameBitmap& b) {
  return static_cast<int>(
      c.ConvertFrame(code, static_cast<std::int32_t>(sample.size()), sample.data(), b));
}

constexpr int kConverted = static_cast<int>(ConvertOutcome::Converted);
constexpr int kNotice = static_cast<int>(ConvertOutcome::Notice);

TEST(FrameConverterTest, RequiredByteCountsDecideBetweenPictureAndNotice) {
  struct Case {
    std::uint32_t code;
    std::int32_t bytes;
    bool converts;
    const char* secondLine;
  };
  const Case cases[] = {
      {fourcc::kYuy2, 614400, true, ""},
      {fourcc::kYuy2, 614401, false, "DataSize: 614401  FourCC: YUY2"},
      {fourcc::kYunv, 614400, true, ""},
      {fourcc::kYuyv, 614399, false, "DataSize: 614399  FourCC: YUYV"},
      {fourcc::kI420, 460800, true, ""},
      {fourcc::kIyuv, 460800, true, ""},
      {fourcc::kYv12, 460801, false, "DataSize: 460801  FourCC: YV12"},
      {fourcc::kRgb, 921600, true, ""},
      {fourcc::kRgb, 921602, false, "DataSize: 921602  FourCC: RGB"},
      {fourcc::kNv12, 460800, true, ""},
      {fourcc::kNv21, 460799, false, "DataSize: 460799  FourCC: NV21"},
      {fourcc::kUyvy, 614400, true, ""},
      {fourcc::kUyvy, 460800, false, "DataSize: 460800  FourCC: UYVY"},
      {fourcc::kGrey, 307200, true, ""},
      {fourcc::kGrey, 460800, false, "DataSize: 460800  FourCC: GREY"},
      {makeFourCC('Y', '4', '1', 'P'), 460800, false, "DataSize: 460800  FourCC: Y41P"},
  };
  FrameConverter converter;
  for (const Case& c : cases) {
    FrameBitmap bitmap = patterned(640, 480, 7);
    const FrameBitmap previous = bitmap;
    const Bytes sample(static_cast<std::size_t>(c.bytes), 0x80);
    const int outcome = convert(converter, c.code, sample, bitmap);
    SCOPED_TRACE(fourccLabel(c.code) + " " + std::to_string(c.bytes));
    if (c.converts) {
      EXPECT_EQ(outcome, kConverted);
      EXPECT_FALSE(bitmap.showsNotice());
    } else {
      EXPECT_EQ(outcome, kNotice);
      EXPECT_TRUE(bitmap.showsNotice());
      const FrameBitmap expected = withNotice(previous, c.secondLine);
      EXPECT_EQ(0, std::memcmp(bitmap.data(), expected.data(), expected.byteCount()));
    }
  }
}

TEST(FrameConverterTest, NoDataLeavesThePictureAlone) {
  FrameConverter converter;
  FrameBitmap bitmap = patterned(16, 8, 3);
  const FrameBitmap before = bitmap;
  EXPECT_EQ(converter.ConvertFrame(fourcc::kYuy2, 256, nullptr, bitmap), ConvertOutcome::NoData);
  EXPECT_EQ(0, std::memcmp(bitmap.data(), before.data(), before.byteCount()));
}

TEST(FrameConverterTest, RgbSampleStartsWithTheBottomRow) {
  FrameConverter converter;
  FrameBitmap bitmap(640, 480);
  Bytes sample(921600);
  std::iota(sample.begin(), sample.end(), std::uint8_t{0});
  ASSERT_EQ(convert(converter, fourcc::kRgb, sample, bitmap), kConverted);
  EXPECT_EQ(0, std::memcmp(bitmap.row(479), sample.data(), 1920));
  EXPECT_EQ(0, std::memcmp(bitmap.row(0), sample.data() + 479 * 1920, 1920));
}

TEST(FrameConverterTest, RgbRowsLineUpWhenTheRowIsNotAMultipleOfFourBytes) {
  FrameConverter converter;
  FrameBitmap bitmap(5, 3);  // 15 bytes a row
  Bytes sample(45);
  std::iota(sample.begin(), sample.end(), std::uint8_t{0});
  ASSERT_EQ(convert(converter, fourcc::kRgb, sample, bitmap), kConverted);
  EXPECT_EQ(pixelAt(bitmap, 0, 2), (std::array<std::uint8_t, 3>{0, 1, 2}));
  EXPECT_EQ(pixelAt(bitmap, 0, 1), (std::array<std::uint8_t, 3>{15, 16, 17}));
}

TEST(FrameConverterTest, PackedPairsUseTheirOwnFourBytes) {
  FrameConverter converter;
  const std::int32_t w = 8, h = 2;
  FrameBitmap bitmap(w, h);
  Bytes sample(static_cast<std::size_t>(w * h * 2));
  std::mt19937 rng(11);
  for (auto& byte : sample)
    byte = static_cast<std::uint8_t>(rng());
  ASSERT_EQ(convert(converter, fourcc::kYuy2, sample, bitmap), kConverted);
  for (std::int32_t r = 0; r < h; ++r) {
    for (std::int32_t k = 0; k < w / 2; ++k) {
      const std::uint8_t* q = sample.data() + r * w * 2 + 4 * k;
      EXPECT_EQ(pixelAt(bitmap, 2 * k, r), expectedPixel(q[0], q[1], q[3]));
      EXPECT_EQ(pixelAt(bitmap, 2 * k + 1, r), expectedPixel(q[2], q[1], q[3]));
    }
  }
}

// Y plane, then U and V (I420) or V and U (YV12); chroma row j serves picture rows 2j, 2j + 1.
TEST(FrameConverterTest, PlanarChromaOrderAndRowSharing) {
  const std::int32_t w = 4, h = 4;
  Bytes sample(static_cast<std::size_t>(w * h * 3 / 2));
  for (std::size_t i = 0; i < 16; ++i)
    sample[i] = static_cast<std::uint8_t>(60 + 10 * i);
  const Bytes first = {90, 100, 110, 120};
  const Bytes second = {200, 190, 180, 170};
  std::copy(first.begin(), first.end(), sample.begin() + 16);
  std::copy(second.begin(), second.end(), sample.begin() + 20);
  FrameConverter converter;
  FrameBitmap i420(w, h), yv12(w, h);
  ASSERT_EQ(convert(converter, fourcc::kI420, sample, i420), kConverted);
  ASSERT_EQ(convert(converter, fourcc::kYv12, sample, yv12), kConverted);
  for (std::int32_t r = 0; r < h; ++r) {
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint8_t y = sample[static_cast<std::size_t>(r * w + x)];
      const std::size_t c = static_cast<std::size_t>((r / 2) * (w / 2) + x / 2);
      EXPECT_EQ(pixelAt(i420, x, r), expectedPixel(y, first[c], second[c])) << x << "," << r;
      EXPECT_EQ(pixelAt(yv12, x, r), expectedPixel(y, second[c], first[c])) << x << "," << r;
    }
  }
}

TEST(FrameConverterTest, PlanarNeutralChromaGivesTheSameGreyInBothOrders) {
  Bytes sample(460800, 128);
  std::fill(sample.begin(), sample.begin() + 307200, 100);
  FrameConverter converter;
  FrameBitmap i420(640, 480), yv12(640, 480);
  ASSERT_EQ(convert(converter, fourcc::kI420, sample, i420), kConverted);
  ASSERT_EQ(convert(converter, fourcc::kYv12, sample, yv12), kConverted);
  EXPECT_EQ(0, std::memcmp(i420.data(), yv12.data(), i420.byteCount()));
  EXPECT_EQ(pixelAt(i420, 639, 479), expectedPixel(100, 128, 128));
}

// I420 samples in the layout of a format that rearranges them: the same bytes elsewhere.
Bytes asSemiPlanar(const Bytes& i420, std::int32_t w, std::int32_t h, bool vFirst) {
  const auto luma = static_cast<std::size_t>(w * h);
  const auto pairs = static_cast<std::size_t>(w / 2);
  const std::uint8_t* u = i420.data() + luma;
  const std::uint8_t* v = u + luma / 4;
  Bytes out(i420.size(), 0);  // a plane's slack bytes at odd sizes stay unused
  std::copy_n(i420.begin(), luma, out.begin());
  for (std::size_t j = 0; j < static_cast<std::size_t>(h / 2); ++j) {
    for (std::size_t k = 0; k < pairs; ++k) {
      std::uint8_t* pair = out.data() + luma + 2 * (j * pairs + k);
      pair[vFirst ? 1 : 0] = u[j * pairs + k];
      pair[vFirst ? 0 : 1] = v[j * pairs + k];
    }
  }
  return out;
}

// YUY2's Y0 U Y1 V as U Y0 V Y1, and a lone last column's Y U as U Y.
Bytes asUyvy(const Bytes& yuy2, std::int32_t, std::int32_t) {
  Bytes out = yuy2;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2)
    std::swap(out[i], out[i + 1]);
  return out;
}

Bytes lumaOnly(const Bytes& i420, std::int32_t w, std::int32_t h) {
  return Bytes(i420.begin(), i420.begin() + w * h);
}

// Each new layout against the format whose bytes it rearranges: random samples must give
// the same picture bit for bit, odd and one-row sizes included (lone column, shared and
// missing chroma rows). GREY's sibling is I420 with neutral chroma.
TEST(FrameConverterTest, RearrangedLayoutsGiveTheirSiblingsPicture) {
  const struct {
    std::uint32_t code, sibling;
    Bytes (*rearrange)(const Bytes&, std::int32_t, std::int32_t);
    bool neutralChroma;
  } cases[] = {
      {fourcc::kNv12, fourcc::kI420,
       [](const Bytes& b, std::int32_t w, std::int32_t h) { return asSemiPlanar(b, w, h, false); },
       false},
      {fourcc::kNv21, fourcc::kI420,
       [](const Bytes& b, std::int32_t w, std::int32_t h) { return asSemiPlanar(b, w, h, true); },
       false},
      {fourcc::kUyvy, fourcc::kYuy2, asUyvy, false},
      {fourcc::kGrey, fourcc::kI420, lumaOnly, true},
  };
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {1, 1}, {2, 1}, {7, 1}, {2, 2}, {3, 3}, {5, 4}, {33, 17}, {40, 30}, {641, 481}};
  std::mt19937 rng(13);
  FrameConverter converter;
  for (const auto& c : cases) {
    for (const auto& [w, h] : sizes) {
      SCOPED_TRACE(fourccLabel(c.code) + " " + std::to_string(w) + "x" + std::to_string(h));
      Bytes sibling(static_cast<std::size_t>(requiredSampleBytes(c.sibling, w, h)));
      for (std::uint8_t& b : sibling)
        b = static_cast<std::uint8_t>(rng());
      if (c.neutralChroma) std::fill(sibling.begin() + w * h, sibling.end(), kNeutralChroma);
      const Bytes sample = c.rearrange(sibling, w, h);
      ASSERT_EQ(static_cast<std::int64_t>(sample.size()), requiredSampleBytes(c.code, w, h));
      FrameBitmap want = patterned(w, h, 1), got = patterned(w, h, 2);
      ASSERT_EQ(convert(converter, c.sibling, sibling, want), kConverted);
      ASSERT_EQ(convert(converter, c.code, sample, got), kConverted);
      EXPECT_EQ(0, std::memcmp(got.data(), want.data(), want.byteCount()));
    }
  }
}

// Odd sizes must neither crash nor read outside the sample (run under ASan). A lone last
// column has no chroma pair and shows the grey of its Y.
TEST(FrameConverterTest, OddSizesConvertSafely) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{1, 1}, {3, 1}, {1, 3},
                                                         {3, 3}, {5, 7}, {641, 481}};
  FrameConverter converter;
  for (const auto& [w, h] : sizes) {
    for (std::uint32_t code : {fourcc::kYuy2, fourcc::kUyvy, fourcc::kI420, fourcc::kYv12,
                               fourcc::kNv12, fourcc::kNv21, fourcc::kGrey, fourcc::kRgb}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + fourccLabel(code));
      FrameBitmap bitmap(w, h);
      const Bytes sample(static_cast<std::size_t>(requiredSampleBytes(code, w, h)), 235);
      EXPECT_EQ(convert(converter, code, sample, bitmap), kConverted);
      if (code != fourcc::kRgb && w % 2 != 0) {
        EXPECT_EQ(pixelAt(bitmap, w - 1, h - 1), expectedPixel(235, 128, 128));
      }
    }
  }
}

// The YUV layouts note each row's largest channel for the peak search, lone columns
// included; copied and decoded pictures note nothing.
TEST(FrameConverterTest, YuvConversionsNoteEachRowsLargestChannel) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{1, 1}, {3, 2}, {33, 17}, {641, 9}};
  std::mt19937 rng(29);
  FrameConverter converter;
  for (const auto& [w, h] : sizes) {
    for (std::uint32_t code : {fourcc::kYuy2, fourcc::kUyvy, fourcc::kI420, fourcc::kYv12,
                               fourcc::kNv12, fourcc::kNv21, fourcc::kGrey, fourcc::kRgb}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + fourccLabel(code));
      Bytes sample(static_cast<std::size_t>(requiredSampleBytes(code, w, h)));
      for (std::uint8_t& b : sample)  // dark, with a bright byte now and then
        b = static_cast<std::uint8_t>(rng() % 50 == 0 ? rng() : 16 + rng() % 8);
      FrameBitmap bitmap(w, h);
      ASSERT_EQ(convert(converter, code, sample, bitmap), kConverted);
      const std::span<const std::uint8_t> maxima = bitmap.rowChannelMax();
      if (code == fourcc::kRgb) {
        EXPECT_TRUE(maxima.empty());
        continue;
      }
      ASSERT_EQ(maxima.size(), static_cast<std::size_t>(h));
      for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* row = bitmap.row(y);
        EXPECT_EQ(maxima[static_cast<std::size_t>(y)],
                  *std::max_element(row, row + bitmap.stride()))
            << "row " << y;
      }
    }
  }
  FrameBitmap bitmap(4, 4);
  ASSERT_EQ(convert(converter, fourcc::kMjpg, test::encodeJpeg(patterned(4, 4, 3)), bitmap),
            kConverted);
  EXPECT_TRUE(bitmap.rowChannelMax().empty());
}

// A stream may report a zero width; such a picture has no pixel storage at all.
TEST(FrameConverterTest, PicturesWithoutPixelsAreHandled) {
  FrameConverter converter;
  const Bytes jpeg = test::encodeJpeg(patterned(8, 8, 4));
  const Bytes none(1, 0);
  for (const auto& [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{0, 0}}) {
    FrameBitmap bitmap(w, h);
    EXPECT_EQ(converter.ConvertFrame(fourcc::kRgb, 0, none.data(), bitmap),
              ConvertOutcome::Converted);
    EXPECT_EQ(converter.ConvertFrame(fourcc::kYuy2, 0, none.data(), bitmap),
              ConvertOutcome::Converted);
    EXPECT_EQ(convert(converter, fourcc::kMjpg, jpeg, bitmap), kConverted);
  }
}

TEST(FrameConverterTest, SmallerJpegOverwritesOnlyTheTopLeft) {
  FrameBitmap source = patterned(32, 16, 5);
  const Bytes jpeg = test::encodeJpeg(source);
  FrameBitmap bitmap = patterned(64, 48, 9);
  const FrameBitmap before = bitmap;
  FrameConverter converter;
  ASSERT_EQ(convert(converter, fourcc::kMjpg, jpeg, bitmap), kConverted);
  FrameBitmap decoded(32, 16);
  FrameConverter reference;
  ASSERT_EQ(convert(reference, fourcc::kMjpg, jpeg, decoded), kConverted);
  for (std::int32_t y = 0; y < 48; ++y) {
    const std::size_t covered = y < 16 ? 32 * 3 : 0;
    if (covered > 0) {
      EXPECT_EQ(0, std::memcmp(bitmap.row(y), decoded.row(y), covered)) << y;
    }
    EXPECT_EQ(0, std::memcmp(bitmap.row(y) + covered, before.row(y) + covered, 64 * 3 - covered))
        << y;
  }
}

TEST(FrameConverterTest, LargerJpegIsClipped) {
  FrameBitmap source = patterned(40, 30, 6);
  const Bytes jpeg = test::encodeJpeg(source);
  FrameConverter converter;
  FrameBitmap full(40, 30), clipped(16, 8);
  ASSERT_EQ(convert(converter, fourcc::kMjpg, jpeg, full), kConverted);
  ASSERT_EQ(convert(converter, fourcc::kMjpg, jpeg, clipped), kConverted);
  for (std::int32_t y = 0; y < 8; ++y)
    EXPECT_EQ(0, std::memcmp(clipped.row(y), full.row(y), 16 * 3));
}

TEST(FrameConverterTest, JpegColoursSurviveAndGreyscaleExpands) {
  FrameBitmap source(16, 16);
  source.fill(40, 120, 200);
  FrameConverter converter;
  for (bool grayscale : {false, true}) {
    FrameBitmap bitmap(16, 16);
    ASSERT_EQ(convert(converter, fourcc::kMjpg,
                      test::encodeJpeg(source, {.quality = 95, .grayscale = grayscale}), bitmap),
              kConverted);
    const auto p = pixelAt(bitmap, 8, 8);
    if (grayscale) {
      EXPECT_EQ(p[0], p[1]);
      EXPECT_EQ(p[1], p[2]);
    } else {
      EXPECT_NEAR(p[0], 40, 3);
      EXPECT_NEAR(p[1], 120, 3);
      EXPECT_NEAR(p[2], 200, 3);
    }
  }
}

TEST(FrameConverterTest, DamagedJpegShowsTheNoticeAndTheDecoderRecovers) {
  const FrameBitmap source = patterned(64, 64, 8);
  const Bytes good = test::encodeJpeg(source, {.quality = 80});
  Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  Bytes garbage(500);
  std::iota(garbage.begin(), garbage.end(), std::uint8_t{1});
  Bytes headerOnly(good.begin(), good.begin() + 2);
  Bytes trailing = good;
  trailing.insert(trailing.end(), 1000, 0xAB);  // buffer larger than the picture

  FrameConverter converter;
  for (const Bytes* bad : {&truncated, &garbage, &headerOnly}) {
    FrameBitmap bitmap(64, 64);
    EXPECT_EQ(convert(converter, fourcc::kMjpg, *bad, bitmap), kNotice);
    EXPECT_TRUE(bitmap.showsNotice());
  }
  FrameBitmap a(64, 64), b(64, 64);
  ASSERT_EQ(convert(converter, fourcc::kMjpg, good, a), kConverted);
  ASSERT_EQ(convert(converter, fourcc::kMjpg, trailing, b), kConverted);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.byteCount()));
  EXPECT_FALSE(a.showsNotice());
}

TEST(FrameConverterTest, JpegNoticeNamesMjpg) {
  FrameConverter converter;
  FrameBitmap bitmap = patterned(320, 240, 2);
  const FrameBitmap previous = bitmap;
  const Bytes junk(1234, 0x55);
  ASSERT_EQ(convert(converter, fourcc::kMjpg, junk, bitmap), kNotice);
  const FrameBitmap expected = withNotice(previous, "DataSize: 1234  FourCC: MJPG");
  EXPECT_EQ(0, std::memcmp(bitmap.data(), expected.data(), expected.byteCount()));
}

}  // namespace
}  // namespace ravdel
