#include "capture/frame_packer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/fourcc.h"

namespace ravdel {
namespace {

constexpr std::size_t kLargestFrame = std::numeric_limits<std::int32_t>::max();
// Gaps between the packed chroma planes of odd sizes hold neutral chroma.
constexpr std::uint8_t kGapFill = 128;

}  // namespace

// The driver's layout: rows `stride` apart (never less than the pixels need), planar chroma
// planes after the luma at half its stride with one chroma row per two rows rounded up, a
// semi-planar chroma plane at the luma's stride. The packed layout is the converter's: 4:2:0
// chroma has width / 2 samples and height / 2 rows, planes start at W x H and
// W x H + (W x H) / 4, and the frame is (W x H x 3) / 2 bytes.
FramePacker::Layout FramePacker::layoutOf(const FrameLayout& format) {
  Layout layout;
  if (format.width > kLargestFrame || format.height > kLargestFrame) return layout;
  const std::size_t w = format.width;
  const std::size_t h = format.height;
  const std::size_t stride = format.stride;
  const auto rowsOf = [&](std::size_t rowBytes) {
    layout.planes[0] = {0, std::max(stride, rowBytes), 0, rowBytes, h};
    layout.planeCount = 1;
    layout.packedBytes = rowBytes * h;
  };
  switch (format.code) {
    case fourcc::kRgb:
      rowsOf(w * 3);
      layout.flipRows = format.topDown;
      break;
    case fourcc::kYuy2:
    case fourcc::kYunv:
    case fourcc::kYuyv:
    case fourcc::kUyvy:
      rowsOf(w * 2);
      break;
    case fourcc::kGrey:
      rowsOf(w);
      break;
    case fourcc::kI420:
    case fourcc::kIyuv:
    case fourcc::kYv12: {
      rowsOf(w);
      const std::size_t luma = layout.planes[0].stride;
      const std::size_t chroma = std::max(luma / 2, w / 2);
      const std::size_t second = luma * h + chroma * ((h + 1) / 2);
      layout.planes[1] = {luma * h, chroma, w * h, w / 2, h / 2};
      layout.planes[2] = {second, chroma, w * h + w * h / 4, w / 2, h / 2};
      layout.planeCount = 3;
      layout.packedBytes = w * h * 3 / 2;
      break;
    }
    case fourcc::kNv12:
    case fourcc::kNv21: {
      rowsOf(w);
      const std::size_t luma = layout.planes[0].stride;
      layout.planes[1] = {luma * h, luma, w * h, w / 2 * 2, h / 2};
      layout.planeCount = 2;
      layout.packedBytes = w * h * 3 / 2;
      break;
    }
    default:
      break;  // compressed, or not a layout we know: delivered as it is
  }
  return layout;
}

std::size_t FramePacker::packedBytes(const FrameLayout& format) {
  return layoutOf(format).packedBytes;
}

std::size_t FramePacker::rowBytes(std::uint32_t code, std::uint32_t width) {
  return layoutOf({code, width, 1, 0}).planes[0].rowBytes;
}

bool FramePacker::configure(const FrameLayout& format) {
  layout_ = layoutOf(format);
  if (layout_.packedBytes > kLargestFrame) return false;
  sourceBytes_ = 0;
  packedAlready_ = !layout_.flipRows;
  for (std::size_t i = 0; i < layout_.planeCount; ++i) {
    const PlaneCopy& p = layout_.planes[i];
    if (p.rows == 0 || p.rowBytes == 0) continue;
    sourceBytes_ = std::max(sourceBytes_, p.source + (p.rows - 1) * p.stride + p.rowBytes);
    packedAlready_ =
        packedAlready_ && p.source == p.target && (p.stride == p.rowBytes || p.rows == 1);
  }
  sourceBytes_ = std::max(sourceBytes_, packedAlready_ ? layout_.packedBytes : 0);
  packed_.assign(packedAlready_ ? 0 : layout_.packedBytes, kGapFill);
  return true;
}

// Worker thread: one memcpy per row, into the buffer configure() sized.
std::span<const std::uint8_t> FramePacker::pack(const std::uint8_t* data, std::size_t bytes) {
  if (layout_.packedBytes == 0 || bytes < sourceBytes_) return {data, bytes};
  if (packedAlready_) return {data, layout_.packedBytes};
  std::uint8_t* out = packed_.data();
  for (std::size_t i = 0; i < layout_.planeCount; ++i) {
    const PlaneCopy& p = layout_.planes[i];
    for (std::size_t r = 0; r < p.rows; ++r) {
      const std::size_t row = layout_.flipRows ? p.rows - 1 - r : r;
      std::memcpy(out + p.target + row * p.rowBytes, data + p.source + r * p.stride, p.rowBytes);
    }
  }
  return {packed_.data(), packed_.size()};
}

}  // namespace ravdel
