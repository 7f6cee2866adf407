#pragma once

#include <cstdint>
#include <vector>

#include "capture/frame_bitmap.h"

namespace ravdel::test {

// Encodes a picture as a baseline JPEG with libjpeg (4:2:0 colour, or greyscale).
std::vector<std::uint8_t> encodeJpeg(const FrameBitmap& picture, int quality,
                                     bool grayscale = false);

}  // namespace ravdel::test
