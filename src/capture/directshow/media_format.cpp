#include "capture/directshow/media_format.h"

#include <dvdmedia.h>

#include <cstdlib>
#include <cstring>

#include "base/fourcc.h"

namespace ravdel::dshow {
namespace {

// A format code no layout is known for: frames of it pass to the converter as they come.
constexpr std::uint32_t kUnknownLayout = makeFourCC('?', '?', '?', '?');

// The parts of either block that we read; the two blocks share their first five fields.
struct VideoBlock {
  RECT target{};
  std::int64_t interval = 0;
  BITMAPINFOHEADER header{};
};

std::optional<VideoBlock> videoBlockOf(const AM_MEDIA_TYPE& type) {
  if (type.pbFormat == nullptr) return std::nullopt;
  VideoBlock block;
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    VIDEOINFOHEADER info;
    std::memcpy(&info, type.pbFormat, sizeof info);
    block = {info.rcTarget, info.AvgTimePerFrame, info.bmiHeader};
  } else if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) &&
             type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    VIDEOINFOHEADER2 info;
    std::memcpy(&info, type.pbFormat, sizeof info);
    block = {info.rcTarget, info.AvgTimePerFrame, info.bmiHeader};
  } else {
    return std::nullopt;
  }
  return block;
}

// The target rectangle, when it names a picture at the top-left corner of the bitmap. A
// bottom-up bitmap keeps its top rows last, so there the picture must take every row.
bool targetIsPicture(const RECT& target, std::int32_t bitmapWidth, std::int32_t bitmapHeight,
                     bool bottomUp) {
  return target.left == 0 && target.top == 0 && target.right > 0 && target.bottom > 0 &&
         target.right <= bitmapWidth && target.bottom <= bitmapHeight &&
         (!bottomUp || target.bottom == bitmapHeight);
}

// The code the packer and the converter know the frames by: BI_RGB only as 24-bit RGB.
std::uint32_t layoutCode(const BITMAPINFOHEADER& header) {
  if (header.biCompression == BI_RGB)
    return header.biBitCount == 24 ? fourcc::kRgb : kUnknownLayout;
  return header.biCompression;
}

// Twice the rows of the first plane's stride a frame holds: luma and 4:2:0 chroma (half the
// rows at half or whole the stride) make three halves; other layouts one plane. 0 when the
// rows cannot be told from the size (an odd height of a 4:2:0 frame).
std::uint32_t doubledStrideRows(std::uint32_t code, std::uint32_t height) {
  switch (code) {
    case fourcc::kI420:
    case fourcc::kIyuv:
    case fourcc::kYv12:
    case fourcc::kNv12:
    case fourcc::kNv21:
      return height % 2 == 0 ? height * 3 : 0;
    default:
      return height * 2;
  }
}

// The row stride in bytes: biWidth's pixels (RGB rows of a bitmap end on four bytes), or, when
// biWidth is the picture's own width, what biSizeImage says whole rows of a wider stride take.
std::uint32_t strideOf(const BITMAPINFOHEADER& header, std::uint32_t code, std::uint32_t width,
                       std::uint32_t height) {
  const auto bitmapWidth = static_cast<std::uint32_t>(header.biWidth);
  std::size_t stride = FramePacker::rowBytes(code, bitmapWidth);
  if (code == fourcc::kRgb) stride = (stride + 3) & ~std::size_t{3};
  const std::uint32_t rows = doubledStrideRows(code, height);
  if (bitmapWidth == width && rows != 0 && std::uint64_t{header.biSizeImage} * 2 % rows == 0) {
    const std::uint64_t sized = std::uint64_t{header.biSizeImage} * 2 / rows;
    if (sized > stride && sized <= 0xFFFFFFFFu) stride = static_cast<std::size_t>(sized);
  }
  return static_cast<std::uint32_t>(stride);
}

}  // namespace

std::optional<MediaFormat> mediaFormatOf(const AM_MEDIA_TYPE& type) {
  const std::optional<VideoBlock> block = videoBlockOf(type);
  if (!block) return std::nullopt;
  const BITMAPINFOHEADER& header = block->header;
  MediaFormat format;
  format.compression = header.biCompression;
  format.frameInterval = block->interval;
  const std::int32_t bitmapWidth = header.biWidth;
  // INT_MIN has no positive counterpart: such a header describes nothing.
  const std::int32_t bitmapHeight = header.biHeight == INT32_MIN ? 0 : std::abs(header.biHeight);
  const std::uint32_t code = layoutCode(header);
  const bool bottomUp = code == fourcc::kRgb && header.biHeight > 0;
  const bool target = targetIsPicture(block->target, bitmapWidth, bitmapHeight, bottomUp);
  format.width = target ? block->target.right : bitmapWidth;
  format.height = target ? block->target.bottom : bitmapHeight;
  if (format.width <= 0 || format.height <= 0) {
    format.width = format.height = 0;
    format.layout.code = kUnknownLayout;
    return format;
  }
  const auto width = static_cast<std::uint32_t>(format.width);
  const auto height = static_cast<std::uint32_t>(format.height);
  format.layout = {code, width, height, strideOf(header, code, width, height),
                   code == fourcc::kRgb && header.biHeight < 0};
  return format;
}

bool setFrameInterval(AM_MEDIA_TYPE& type, std::int64_t interval) {
  if (type.pbFormat == nullptr) return false;
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame = interval;
    return true;
  }
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) &&
      type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame = interval;
    return true;
  }
  return false;
}

}  // namespace ravdel::dshow
