#include "convert/bitmap_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace ravdel {
namespace {

constexpr std::uint8_t kB = 10, kG = 200, kR = 30;  // background no glyph pixel can have

FrameBitmap canvas(std::int32_t width, std::int32_t height) {
  FrameBitmap bitmap(width, height);
  bitmap.fill(kB, kG, kR);
  return bitmap;
}

std::vector<std::uint8_t> pixels(const FrameBitmap& bitmap) {
  return {bitmap.data(), bitmap.data() + bitmap.byteCount()};
}

// One character drawn alone into a bitmap of exactly its cell.
std::vector<std::uint8_t> renderGlyph(char c) {
  const std::string text(1, c);
  FrameBitmap bitmap = canvas(textWidth(text), textHeight());
  drawText(bitmap, 0, 0, text);
  return pixels(bitmap);
}

int blackPixels(const std::vector<std::uint8_t>& bgr) {
  int count = 0;
  for (std::size_t i = 0; i < bgr.size(); i += 3)
    count += bgr[i] == 0 ? 1 : 0;
  return count;
}

TEST(BitmapText, WidthIsCellWidthTimesLength) {
  const std::int32_t cell = textWidth("X");
  EXPECT_GT(cell, 0);
  EXPECT_GT(textHeight(), 0);
  EXPECT_EQ(textWidth(""), 0);
  EXPECT_EQ(textWidth("DataSize: 614401  FourCC: YUY2"), 30 * cell);
  EXPECT_LE(textWidth("DataSize: 614401  FourCC: YUY2"), 640);
}

TEST(BitmapText, FillsCellsWhiteAndDrawsGlyphsBlackInsideTheTextOnly) {
  const std::string text = "Ag|_ x";
  const std::int32_t x0 = 5, y0 = 7;
  FrameBitmap bitmap = canvas(100, 40);
  drawText(bitmap, x0, y0, text);
  int black = 0;
  for (std::int32_t y = 0; y < bitmap.height(); ++y) {
    for (std::int32_t x = 0; x < bitmap.width(); ++x) {
      const std::uint8_t* p = bitmap.row(y) + x * 3;
      const bool inside = x >= x0 && x < x0 + textWidth(text) && y >= y0 && y < y0 + textHeight();
      if (!inside) {
        ASSERT_TRUE(p[0] == kB && p[1] == kG && p[2] == kR) << x << "," << y;
      } else {
        ASSERT_TRUE((p[0] == 0 || p[0] == 255) && p[0] == p[1] && p[1] == p[2]) << x << "," << y;
        black += p[0] == 0 ? 1 : 0;
      }
    }
  }
  EXPECT_GT(black, 0);
}

TEST(BitmapText, EveryPrintableCharacterHasItsOwnGlyph) {
  std::vector<std::vector<std::uint8_t>> glyphs;
  for (int c = 32; c <= 126; ++c)
    glyphs.push_back(renderGlyph(static_cast<char>(c)));
  const auto box = renderGlyph('\x7f');
  for (std::size_t i = 0; i < glyphs.size(); ++i) {
    const char c = static_cast<char>(32 + i);
    EXPECT_EQ(blackPixels(glyphs[i]) == 0, c == ' ') << "'" << c << "'";
    EXPECT_NE(glyphs[i], box) << "'" << c << "'";
    for (std::size_t j = i + 1; j < glyphs.size(); ++j) {
      EXPECT_NE(glyphs[i], glyphs[j]) << "'" << c << "' and '" << static_cast<char>(32 + j) << "'";
    }
  }
  EXPECT_GT(blackPixels(renderGlyph('X')), 0);
}

TEST(BitmapText, BytesOutsidePrintableAsciiDrawTheBox) {
  const auto box = renderGlyph('\x7f');
  EXPECT_GT(blackPixels(box), 0);
  for (const char c : {'\0', '\t', '\n', '\x1f', '\x80', '\xe9', '\xff'}) {
    EXPECT_EQ(renderGlyph(c), box) << static_cast<int>(static_cast<unsigned char>(c));
  }
}

TEST(BitmapText, CharactersSitInConsecutiveCells) {
  FrameBitmap together = canvas(60, 30), apart = canvas(60, 30);
  drawText(together, 3, 4, "Wq");
  drawText(apart, 3, 4, "W");
  drawText(apart, 3 + textWidth("W"), 4, "q");
  EXPECT_EQ(pixels(together), pixels(apart));
}

// Text drawn partly or wholly off a small bitmap must match the same text drawn on a large
// one, cropped: nothing shifted, nothing written outside.
TEST(BitmapText, ClipsAtEveryEdge) {
  const std::string text = "Hi!gy";
  const std::int32_t w = 23, h = 13, margin = 80;
  struct Case {
    std::int32_t x, y;
  };
  const Case cases[] = {
      {0, 0},   {-7, 0},  {0, -5}, {-7, -5}, {15, 0}, {0, 8},   {15, 8},  {-59, 3},
      {-60, 3}, {-61, 3}, {23, 0}, {22, 12}, {0, 13}, {0, -21}, {0, -22}, {-70, -30},
  };
  for (const Case& c : cases) {
    FrameBitmap small = canvas(w, h);
    drawText(small, c.x, c.y, text);
    FrameBitmap large = canvas(w + 2 * margin, h + 2 * margin);
    drawText(large, c.x + margin, c.y + margin, text);
    for (std::int32_t y = 0; y < h; ++y) {
      const std::uint8_t* expected = large.row(y + margin) + margin * 3;
      ASSERT_EQ(std::vector<std::uint8_t>(small.row(y), small.row(y) + w * 3),
                std::vector<std::uint8_t>(expected, expected + w * 3))
          << "text at " << c.x << "," << c.y << ", row " << y;
    }
  }
}

TEST(BitmapText, ExtremePositionsAndEmptyBitmapsDrawNothing) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::string longText(5000, 'M');
  FrameBitmap bitmap = canvas(16, 16);
  const auto before = pixels(bitmap);
  for (const std::int32_t v : {kMin, kMin + 1, -1000000, 16, 1000000, kMax - 1, kMax}) {
    drawText(bitmap, v, 0, "Abc");
    drawText(bitmap, 0, v, longText);
    drawText(bitmap, v, v, longText);
  }
  EXPECT_EQ(pixels(bitmap), before);
  for (const auto& [w, h] : {std::pair{0, 0}, std::pair{0, 10}, std::pair{10, 0}}) {
    FrameBitmap empty(w, h);
    drawText(empty, 0, 0, "Unknown compression");
    drawText(empty, -3, -3, "x");
    EXPECT_EQ(empty.byteCount(), 0u);
  }
}

}  // namespace
}  // namespace ravdel
