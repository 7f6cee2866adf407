#include "convert/bitmap_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <string_view>

namespace ravdel {
namespace {

// Glyphs are 5 x 9 units: 7 rows above the baseline and 2 for descenders. A character cell
// is 6 x 11 units (one blank column on the left, one blank row above and below), drawn at
// 2 x 2 pixels per unit so the notice reads well on a 640 x 480 frame.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 9;
constexpr int kScale = 2;
constexpr int kCellWidth = (kGlyphWidth + 1) * kScale;
constexpr int kCellHeight = (kGlyphHeight + 2) * kScale;
constexpr int kGlyphLeft = 1 * kScale;
constexpr int kGlyphTop = 1 * kScale;

constexpr unsigned char kFirstGlyph = 32;
constexpr int kGlyphCount = 96;  // 32..126, then the box drawn for every other byte
constexpr int kBoxGlyph = kGlyphCount - 1;
constexpr int kGlyphsPerBand = 16;

// The font sheet: bands of 16 characters (32..47, 48..63, ..., 112..126 and the box),
// glyphs separated by one space, bands by an empty line. '#' is ink.
constexpr std::string_view kSheet = R"(
..... ..#.. .#.#. .#.#. ..#.. ##... .##.. ..#.. ...#. .#... ..... ..... ..... ..... ..... .....
..... ..#.. .#.#. .#.#. .#### ##..# #..#. ..#.. ..#.. ..#.. ..#.. ..#.. ..... ..... ..... ....#
..... ..#.. .#.#. ##### #.#.. ...#. #.#.. .#... .#... ...#. #.#.# ..#.. ..... ..... ..... ...#.
..... ..#.. ..... .#.#. .###. ..#.. .#... ..... .#... ...#. .###. ##### ..... ##### ..... ..#..
..... ..#.. ..... ##### ..#.# .#... #.#.# ..... .#... ...#. #.#.# ..#.. ..... ..... ..... .#...
..... ..... ..... .#.#. ####. #..## #..#. ..... ..#.. ..#.. ..#.. ..#.. .##.. ..... .##.. #....
..... ..#.. ..... .#.#. ..#.. ...## .##.# ..... ...#. .#... ..... ..... .##.. ..... .##.. .....
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..#.. ..... ..... .....
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... .#... ..... ..... .....

.###. ..#.. .###. ##### ...#. ##### ..##. ##### .###. .###. ..... ..... ...#. ..... .#... .###.
#...# .##.. #...# ...#. ..##. #.... .#... ....# #...# #...# .##.. .##.. ..#.. ..... ..#.. #...#
#..## ..#.. ....# ..#.. .#.#. ####. #.... ...#. #...# #...# .##.. .##.. .#... ##### ...#. ....#
#.#.# ..#.. ...#. ...#. #..#. ....# ####. ..#.. .###. .#### ..... ..... #.... ..... ....# ...#.
##..# ..#.. ..#.. ....# ##### ....# #...# .#... #...# ....# .##.. .##.. .#... ##### ...#. ..#..
#...# ..#.. .#... #...# ...#. #...# #...# .#... #...# ...#. .##.. .##.. ..#.. ..... ..#.. .....
.###. .###. ##### .###. ...#. .###. .###. .#... .###. .##.. ..... ..#.. ...#. ..... .#... ..#..
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... .#... ..... ..... ..... .....
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... .....

.###. .###. ####. .###. ###.. ##### ##### .###. #...# .###. ..### #...# #.... #...# #...# .###.
#...# #...# #...# #...# #..#. #.... #.... #...# #...# ..#.. ...#. #..#. #.... ##.## #...# #...#
....# #...# #...# #.... #...# #.... #.... #.... #...# ..#.. ...#. #.#.. #.... #.#.# ##..# #...#
.##.# ##### ####. #.... #...# ####. ####. #.### ##### ..#.. ...#. ##... #.... #.#.# #.#.# #...#
#.#.# #...# #...# #.... #...# #.... #.... #...# #...# ..#.. ...#. #.#.. #.... #...# #..## #...#
#.#.# #...# #...# #...# #..#. #.... #.... #...# #...# ..#.. #..#. #..#. #.... #...# #...# #...#
.###. #...# ####. .###. ###.. ##### #.... .#### #...# .###. .##.. #...# ##### #...# #...# .###.
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... .....
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... .....

####. .###. ####. .#### ##### #...# #...# #...# #...# #...# ##### .###. ..... .###. ..#.. .....
#...# #...# #...# #.... ..#.. #...# #...# #...# #...# #...# ....# .#... #.... ...#. .#.#. .....
#...# #...# #...# #.... ..#.. #...# #...# #...# .#.#. #...# ...#. .#... .#... ...#. #...# .....
####. #...# ####. .###. ..#.. #...# #...# #.#.# ..#.. .#.#. ..#.. .#... ..#.. ...#. ..... .....
#.... #.#.# #.#.. ....# ..#.. #...# #...# #.#.# .#.#. ..#.. .#... .#... ...#. ...#. ..... .....
#.... #..#. #..#. ....# ..#.. #...# .#.#. #.#.# #...# ..#.. #.... .#... ....# ...#. ..... .....
#.... .##.# #...# ####. ..#.. .###. ..#.. .#.#. #...# ..#.. ##### .###. ..... .###. ..... .....
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... #####
..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... ..... .....

.#... ..... #.... ..... ....# ..... ..##. ..... #.... ..#.. ...#. #.... .##.. ..... ..... .....
..#.. ..... #.... ..... ....# ..... .#..# ..... #.... ..... ..... #.... ..#.. ..... ..... .....
...#. .###. #.##. .###. .##.# .###. .#... .#### #.##. .##.. ..##. #..#. ..#.. ##.#. #.##. .###.
..... ....# ##..# #.... #..## #...# ###.. #...# ##..# ..#.. ...#. #.#.. ..#.. #.#.# ##..# #...#
..... .#### #...# #.... #...# ##### .#... #...# #...# ..#.. ...#. ##... ..#.. #.#.# #...# #...#
..... #...# #...# #...# #...# #.... .#... #...# #...# ..#.. ...#. #.#.. ..#.. #.#.# #...# #...#
..... .#### ####. .###. .#### .###. .#... .#### #...# .###. ...#. #..#. .###. #.#.# #...# .###.
..... ..... ..... ..... ..... ..... ..... ....# ..... ..... #..#. ..... ..... ..... ..... .....
..... ..... ..... ..... ..... ..... ..... .###. ..... ..... .##.. ..... ..... ..... ..... .....

..... ..... ..... ..... .#... ..... ..... ..... ..... ..... ..... ...#. ..#.. .#... ..... #####
..... ..... ..... ..... .#... ..... ..... ..... ..... ..... ..... ..#.. ..#.. ..#.. ..... #...#
####. .#### #.##. .#### ####. #...# #...# #...# #...# #...# ##### ..#.. ..#.. ..#.. .#... #...#
#...# #...# ##..# #.... .#... #...# #...# #...# .#.#. #...# ...#. .#... ..#.. ...#. #.#.# #...#
#...# #...# #.... .###. .#... #...# #...# #.#.# ..#.. #...# ..#.. ..#.. ..#.. ..#.. ...#. #...#
#...# #...# #.... ....# .#..# #..## .#.#. #.#.# .#.#. #...# .#... ..#.. ..#.. ..#.. ..... #...#
####. .#### #.... ####. ..##. .##.# ..#.. .#.#. #...# .#### ##### ...#. ..#.. .#... ..... #####
#.... ....# ..... ..... ..... ..... ..... ..... ..... ....# ..... ..... ..... ..... ..... .....
#.... ....# ..... ..... ..... ..... ..... ..... ..... .###. ..... ..... ..... ..... ..... .....)";

using Glyph = std::array<std::uint8_t, kGlyphHeight>;  // one bit per column, bit 4 leftmost

// Turns the sheet into bit rows at compile time; a malformed sheet fails the build (a throw or
// an out-of-range at() is not a constant expression).
constexpr std::array<Glyph, kGlyphCount> parseSheet(std::string_view sheet) {
  std::array<Glyph, kGlyphCount> glyphs{};
  std::size_t pos = 1;  // past the newline that opens the raw string
  for (int band = 0; band < kGlyphCount / kGlyphsPerBand; ++band) {
    if (band > 0) {
      if (sheet.at(pos) != '\n') throw "bands are separated by an empty line";
      ++pos;
    }
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int i = 0; i < kGlyphsPerBand; ++i) {
        std::uint8_t bits = 0;
        for (int col = 0; col < kGlyphWidth; ++col) {
          const char c = sheet.at(pos++);
          if (c != '#' && c != '.') throw "a glyph unit is '#' or '.'";
          bits = static_cast<std::uint8_t>(bits << 1 | (c == '#' ? 1 : 0));
        }
        glyphs.at(static_cast<std::size_t>(band * kGlyphsPerBand + i))
            .at(static_cast<std::size_t>(row)) = bits;
        const char separator = pos < sheet.size() ? sheet[pos] : '\n';
        if (separator != (i + 1 < kGlyphsPerBand ? ' ' : '\n')) throw "misaligned glyph";
        ++pos;
      }
    }
  }
  if (pos < sheet.size()) throw "text after the last band";
  return glyphs;
}

constexpr std::array<Glyph, kGlyphCount> kGlyphs = parseSheet(kSheet);

const Glyph& glyphFor(char c) {
  const auto code = static_cast<unsigned char>(c);
  const int index =
      code >= kFirstGlyph && code < kFirstGlyph + kBoxGlyph ? code - kFirstGlyph : kBoxGlyph;
  return kGlyphs[static_cast<std::size_t>(index)];
}

bool isInk(const Glyph& glyph, std::int64_t unitX, std::int64_t unitY) {
  if (unitX < 0 || unitX >= kGlyphWidth || unitY < 0 || unitY >= kGlyphHeight) return false;
  return (glyph[static_cast<std::size_t>(unitY)] >> (kGlyphWidth - 1 - unitX) & 1) != 0;
}

}  // namespace

std::int32_t textHeight() {
  return kCellHeight;
}

std::int32_t textWidth(std::string_view text) {
  const auto limit =
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / kCellWidth);
  return static_cast<std::int32_t>(std::min(text.size(), limit)) * kCellWidth;
}

void drawText(FrameBitmap& bitmap, std::int32_t x, std::int32_t y, std::string_view text) {
  // 64-bit positions: a cell far off either edge must not overflow.
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t bottom =
      std::min<std::int64_t>(std::int64_t{y} + kCellHeight, bitmap.height());
  if (top >= bottom) return;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::int64_t cellX = x + static_cast<std::int64_t>(i) * kCellWidth;
    if (cellX >= bitmap.width()) break;  // this and every later cell are past the right edge
    const std::int64_t left = std::max<std::int64_t>(cellX, 0);
    const std::int64_t right = std::min<std::int64_t>(cellX + kCellWidth, bitmap.width());
    if (left >= right) continue;
    const Glyph& glyph = glyphFor(text[i]);
    for (std::int64_t py = top; py < bottom; ++py) {
      const std::int64_t unitY = (py - y - kGlyphTop) / kScale;
      const bool inGlyphRows = py - y >= kGlyphTop;
      std::uint8_t* p = bitmap.row(static_cast<std::int32_t>(py)) +
                        static_cast<std::size_t>(left) * FrameBitmap::kBytesPerPixel;
      for (std::int64_t px = left; px < right; ++px, p += FrameBitmap::kBytesPerPixel) {
        const bool ink = inGlyphRows && px - cellX >= kGlyphLeft &&
                         isInk(glyph, (px - cellX - kGlyphLeft) / kScale, unitY);
        const std::uint8_t v = ink ? 0 : 255;
        p[0] = v;
        p[1] = v;
        p[2] = v;
      }
    }
  }
}

}  // namespace ravdel
