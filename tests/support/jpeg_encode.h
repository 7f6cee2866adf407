#pragma once

#include <cstdint>
#include <vector>

#include "base/frame_bitmap.h"

namespace ravdel::test {

struct JpegOptions {
  int quality = 90;
  bool grayscale = false;
  bool subsample422 = false;  // as many webcams send; 4:2:0 otherwise
  bool progressive = false;
  int restartRows = 0;
};

// Encodes a picture with libjpeg, for tests, benchmarks and fuzzing seeds.
std::vector<std::uint8_t> encodeJpeg(const FrameBitmap& picture, const JpegOptions& options = {});

}  // namespace ravdel::test
