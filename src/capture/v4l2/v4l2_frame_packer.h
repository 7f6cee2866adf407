#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "capture/v4l2/v4l2_format.h"

namespace ravdel {

// Turns a stream's frames into the tightly packed layout the converter takes. Drivers may
// pad every row (bytesperline beyond the pixels) and lay planar chroma at half that stride;
// the packed frame has each plane's rows back to back at the converter's plane offsets, and
// BGR24 bottom row first. Motion-JPEG and formats without a known layout pass as they are.
//
// configure() runs on the main thread before the stream's worker starts; pack() then runs on
// that worker only and reuses the one buffer configure() made.
class FramePacker {
 public:
  // False when a packed frame would not fit the receiver's 32-bit byte count.
  bool configure(const CaptureFormat& format);

  // The bytes to deliver for the `bytes` bytes the driver filled at `data`: a view of `data`
  // when the frame is packed already, else of the packer's buffer, valid until the next call.
  // A frame shorter than its layout is passed as it is, so that its size shows in the
  // picture's notice; nothing beyond `bytes` is ever read.
  std::span<const std::uint8_t> pack(const std::uint8_t* data, std::size_t bytes);

  // The bytes of a packed frame of this format (its bytesPerLine plays no part); 0 for
  // compressed formats and those without a known layout.
  static std::size_t packedBytes(const CaptureFormat& format);

 private:
  // One plane's rows: `rows` rows of `rowBytes` at `source` + r * `stride` in the driver's
  // frame go to `target` + r * `rowBytes` in the packed one.
  struct PlaneCopy {
    std::size_t source = 0;
    std::size_t stride = 0;
    std::size_t target = 0;
    std::size_t rowBytes = 0;
    std::size_t rows = 0;
  };
  struct Layout {
    std::array<PlaneCopy, 3> planes{};
    std::size_t planeCount = 0;
    std::size_t packedBytes = 0;  // 0: no layout, frames pass as they are
    bool bottomUp = false;
  };
  static Layout layoutOf(const CaptureFormat& format);

  Layout layout_;
  std::size_t sourceBytes_ = 0;  // the least a frame must hold to be packed
  bool packedAlready_ = false;   // the driver's layout is the packed one (no padding)
  std::vector<std::uint8_t> packed_;
};

}  // namespace ravdel
