#pragma once

#include <cstdint>
#include <vector>

#include "base/frame_bitmap.h"

namespace ravdel {

// The pixels around an event's peak that leave the machine with it: a square of this side
// centred on the peak, moved inside the frame at its edges (smaller only when the frame is).
inline constexpr std::int32_t kEventCropSide = 32;

FrameBitmap cropAround(const FrameBitmap& frame, std::int32_t x, std::int32_t y,
                       std::int32_t side = kEventCropSide);

// The crop as PNG bytes (a few hundred for a dark frame); empty for an empty frame.
std::vector<std::uint8_t> eventCropPng(const FrameBitmap& frame, std::int32_t x, std::int32_t y);

}  // namespace ravdel
