#include "base/frame_bitmap.h"

namespace ravdel {

bool FrameBitmap::resize(std::int32_t width, std::int32_t height) {
  const std::int64_t bytes = std::int64_t{width} * height * kBytesPerPixel;
  if (width < 0 || height < 0 || bytes > kMaxBytes) {
    width_ = height_ = 0;
    pixels_.clear();
    return false;
  }
  pixels_.resize(static_cast<std::size_t>(bytes));
  width_ = width;
  height_ = height;
  return true;
}

void FrameBitmap::fill(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  for (std::size_t i = 0; i + 2 < pixels_.size(); i += kBytesPerPixel) {
    pixels_[i] = b;
    pixels_[i + 1] = g;
    pixels_[i + 2] = r;
  }
}

}  // namespace ravdel
