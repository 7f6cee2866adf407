#include "detection/event_crop.h"

#include <algorithm>
#include <cstring>

#include "detection/png_writer.h"

namespace ravdel {

FrameBitmap cropAround(const FrameBitmap& frame, std::int32_t x, std::int32_t y,
                       std::int32_t side) {
  const std::int32_t w = std::min(side, frame.width());
  const std::int32_t h = std::min(side, frame.height());
  const std::int32_t left = std::clamp(x - w / 2, 0, frame.width() - w);
  const std::int32_t top = std::clamp(y - h / 2, 0, frame.height() - h);
  FrameBitmap crop(w, h);
  for (std::int32_t row = 0; row < h; ++row) {
    std::memcpy(crop.row(row),
                frame.row(top + row) + static_cast<std::size_t>(left) * FrameBitmap::kBytesPerPixel,
                crop.stride());
  }
  return crop;
}

// libpng's own settings: on a picture this small, size matters more than speed.
std::vector<std::uint8_t> eventCropPng(const FrameBitmap& frame, std::int32_t x, std::int32_t y) {
  if (frame.empty()) return {};
  return encodePng(cropAround(frame, x, y), PngSettings{.libpngDefaults = true});
}

}  // namespace ravdel
