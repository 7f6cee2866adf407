#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ravdel {

// How a camera lays out the frames of one stream format in its buffers.
struct FrameLayout {
  std::uint32_t code = 0;  // the frames' format code as the converter takes it (0: 24-bit RGB)
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // Bytes from one row of the first plane to the next; 0, or less than a row needs: no padding.
  std::uint32_t stride = 0;
  bool topDown = false;  // RGB only: the top row comes first (the converter takes it last)
};

// Turns a stream's frames into the tightly packed layout the converter takes. Drivers may
// pad every row (a stride beyond the pixels), lay planar chroma at half that stride, hand out
// buffers larger than a frame, and store RGB top row first; the packed frame has each plane's
// rows back to back at the converter's plane offsets, and RGB bottom row first. Motion-JPEG and
// formats without a known layout pass as they are. Both capture backends use it.
//
// configure() runs before the stream's worker delivers (or under the lock that worker takes);
// pack() then runs on that worker only and reuses the one buffer configure() made.
class FramePacker {
 public:
  // False when a packed frame would not fit the receiver's 32-bit byte count.
  bool configure(const FrameLayout& layout);

  // The bytes to deliver for the `bytes` bytes the driver filled at `data`: a view of `data`
  // when the frame is packed already (cut to the frame's size), else of the packer's buffer,
  // valid until the next call. A frame shorter than its layout is passed as it is, so that its
  // size shows in the picture's notice; nothing beyond `bytes` is ever read.
  std::span<const std::uint8_t> pack(const std::uint8_t* data, std::size_t bytes);

  // The bytes of a packed frame of this layout (its stride plays no part); 0 for compressed
  // formats and those without a known layout.
  static std::size_t packedBytes(const FrameLayout& layout);
  // The bytes one row of the first plane needs at `width` pixels (RGB 3 a pixel, 4:2:2 2, luma
  // 1); 0 for compressed formats and those without a known layout.
  static std::size_t rowBytes(std::uint32_t code, std::uint32_t width);

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
    bool flipRows = false;
  };
  static Layout layoutOf(const FrameLayout& format);

  Layout layout_;
  std::size_t sourceBytes_ = 0;  // the least a frame must hold to be packed
  bool packedAlready_ = false;   // the driver's layout is the packed one (no padding)
  std::vector<std::uint8_t> packed_;
};

}  // namespace ravdel
