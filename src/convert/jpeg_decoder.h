#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/frame_bitmap.h"

namespace ravdel {

// Decodes Motion-JPEG samples with libjpeg. One decoder object is created once and reused
// for every sample; used by one thread at a time.
class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Draws the decoded picture into `bitmap` with its top-left corner at (0, 0), unscaled:
  // a smaller picture leaves the rest as it was, a larger one is clipped. Returns false for
  // corrupt, truncated or unsupported data; the bitmap may then hold part of the picture.
  bool decodeInto(const std::uint8_t* data, std::size_t size, FrameBitmap& bitmap);

  // Reads only the header: the picture's size. False when the data is not a JPEG image.
  bool readSize(const std::uint8_t* data, std::size_t size, std::int32_t& width,
                std::int32_t& height);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ravdel
