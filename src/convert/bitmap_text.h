#pragma once

#include <cstdint>
#include <string_view>

#include "base/frame_bitmap.h"

namespace ravdel {

// A small built-in fixed-width font for text drawn into frame bitmaps (the format notice).

// Height in pixels of one line of text (the height of "X" with its cell).
std::int32_t textHeight();

// Width in pixels of `text`.
std::int32_t textWidth(std::string_view text);

// Draws `text` with its top-left corner at (x, y): black glyphs, each character's cell
// filled white, clipped to the bitmap. Bytes outside printable ASCII draw as a box.
void drawText(FrameBitmap& bitmap, std::int32_t x, std::int32_t y, std::string_view text);

}  // namespace ravdel
