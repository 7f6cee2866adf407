#include "convert/frame_converter.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "base/fourcc.h"
#include "convert/bitmap_text.h"
#include "convert/jpeg_decoder.h"
#include "convert/yuv_kernels.h"

namespace ravdel {
namespace {

enum class Layout { Rgb, Packed422, Planar420, SemiPlanar420, Grey, Jpeg, Unknown };

struct FormatEntry {
  std::uint32_t fourcc;
  Layout layout;
  // Planar and semi-planar: V before U. Packed: U Y0 V Y1 instead of Y0 U Y1 V.
  bool swapped;
};

constexpr FormatEntry kFormats[] = {
    {fourcc::kRgb, Layout::Rgb, false},
    {fourcc::kI420, Layout::Planar420, false},
    {fourcc::kIyuv, Layout::Planar420, false},
    {fourcc::kYv12, Layout::Planar420, true},
    {fourcc::kNv12, Layout::SemiPlanar420, false},
    {fourcc::kNv21, Layout::SemiPlanar420, true},
    {fourcc::kYuy2, Layout::Packed422, false},
    {fourcc::kYunv, Layout::Packed422, false},
    {fourcc::kYuyv, Layout::Packed422, false},
    {fourcc::kUyvy, Layout::Packed422, true},
    {fourcc::kGrey, Layout::Grey, false},
    {fourcc::kMjpg, Layout::Jpeg, false},
};

FormatEntry lookupFormat(std::uint32_t code) {
  for (const FormatEntry& f : kFormats) {
    if (f.fourcc == code) return f;
  }
  return {code, Layout::Unknown, false};
}

// The sample is bottom-up like a device-independent bitmap: its first row is the bottom row.
void copyRgb(const std::uint8_t* src, FrameBitmap& bitmap) {
  const std::size_t stride = bitmap.stride();
  if (stride == 0) return;  // a picture 0 pixels wide has no row storage
  for (std::int32_t r = bitmap.height() - 1; r >= 0; --r, src += stride) {
    std::memcpy(bitmap.row(r), src, stride);
  }
}

// Each YUV layout writes one row at a time and notes the row's largest channel in
// `rowMax` (one entry per row), for the peak search.

// A lone last column of an odd width has no chroma pair: it is shown as grey from its Y.
// Returns the row's largest channel with it.
std::uint8_t convertLoneColumn(const YuvTables& t, std::uint8_t y, FrameBitmap& bitmap,
                               std::int32_t r, std::uint8_t rowMax) {
  std::uint8_t* bgr = bitmap.row(r) + std::size_t{3} * static_cast<std::size_t>(bitmap.width() - 1);
  yuvToBgr(t, y, kNeutralChroma, kNeutralChroma, bgr);
  return std::max({rowMax, bgr[0], bgr[1], bgr[2]});
}

// A lone last column's two bytes are its Y and a U, in the pair's order.
void convertPacked(const YuvKernels& kernels, const std::uint8_t* src, bool uyvy,
                   FrameBitmap& bitmap, std::uint8_t* rowMax) {
  const YuvTables& t = yuvTables();
  const std::int32_t w = bitmap.width();
  const std::size_t srcStride = static_cast<std::size_t>(w) * 2;
  const std::size_t loneY = uyvy ? srcStride - 1 : srcStride - 2;
  const auto row = uyvy ? kernels.uyvyRow : kernels.packedRow;
  for (std::int32_t r = 0; r < bitmap.height(); ++r, src += srcStride, ++rowMax) {
    *rowMax = row(t, src, bitmap.row(r), w / 2);
    if (w % 2 != 0) *rowMax = convertLoneColumn(t, src[loneY], bitmap, r, *rowMax);
  }
}

// The chroma row serving picture row r of a 4:2:0 picture with `chromaRows` chroma rows: a
// last odd picture row shares the last chroma row; a picture one row high has no chroma and
// is shown grey (`neutral`).
const std::uint8_t* chromaRow(const std::uint8_t* plane, std::size_t stride,
                              std::int32_t chromaRows, std::int32_t r,
                              const std::uint8_t* neutral) {
  if (chromaRows == 0) return neutral;
  return plane + static_cast<std::size_t>(std::min(r / 2, chromaRows - 1)) * stride;
}

// Planar 4:2:0: a W x H Y plane, then U and V planes (V first when swapped) of W/2 x H/2
// bytes each, the second starting (W x H) / 4 bytes after the first.
void convertPlanar(const YuvKernels& kernels, const std::uint8_t* src, bool vFirst,
                   FrameBitmap& bitmap, const std::vector<std::uint8_t>& neutralRow,
                   std::uint8_t* rowMax) {
  const YuvTables& t = yuvTables();
  const std::int32_t w = bitmap.width();
  const std::int32_t h = bitmap.height();
  const std::size_t lumaBytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  const std::uint8_t* first = src + lumaBytes;
  const std::uint8_t* second = first + lumaBytes / 4;
  const std::uint8_t* uPlane = vFirst ? second : first;
  const std::uint8_t* vPlane = vFirst ? first : second;
  const std::size_t chromaStride = static_cast<std::size_t>(w / 2);
  for (std::int32_t r = 0; r < h; ++r, ++rowMax) {
    const std::uint8_t* y = src + static_cast<std::size_t>(r) * static_cast<std::size_t>(w);
    const std::uint8_t* u = chromaRow(uPlane, chromaStride, h / 2, r, neutralRow.data());
    const std::uint8_t* v = chromaRow(vPlane, chromaStride, h / 2, r, neutralRow.data());
    *rowMax = kernels.planarRow(t, y, u, v, bitmap.row(r), w / 2);
    if (w % 2 != 0) *rowMax = convertLoneColumn(t, y[w - 1], bitmap, r, *rowMax);
  }
}

// Semi-planar 4:2:0: a W x H Y plane, then H/2 rows of W/2 chroma pairs, U V (V U when
// swapped); halves round down as in the planar layout, so the sample's size is the same and
// its last bytes are unused at odd sizes.
void convertSemiPlanar(const YuvKernels& kernels, const std::uint8_t* src, bool vFirst,
                       FrameBitmap& bitmap, const std::vector<std::uint8_t>& neutralRow,
                       std::uint8_t* rowMax) {
  const YuvTables& t = yuvTables();
  const std::int32_t w = bitmap.width();
  const std::int32_t h = bitmap.height();
  const std::uint8_t* plane = src + static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  const std::size_t chromaStride = static_cast<std::size_t>(w / 2) * 2;
  for (std::int32_t r = 0; r < h; ++r, ++rowMax) {
    const std::uint8_t* y = src + static_cast<std::size_t>(r) * static_cast<std::size_t>(w);
    const std::uint8_t* chroma = chromaRow(plane, chromaStride, h / 2, r, neutralRow.data());
    *rowMax = kernels.semiPlanarRow(t, y, chroma, vFirst, bitmap.row(r), w / 2);
    if (w % 2 != 0) *rowMax = convertLoneColumn(t, y[w - 1], bitmap, r, *rowMax);
  }
}

void convertGrey(const YuvKernels& kernels, const std::uint8_t* src, FrameBitmap& bitmap,
                 std::uint8_t* rowMax) {
  const YuvTables& t = yuvTables();
  const std::int32_t w = bitmap.width();
  for (std::int32_t r = 0; r < bitmap.height(); ++r, src += static_cast<std::size_t>(w))
    rowMax[r] = kernels.greyRow(t, src, bitmap.row(r), w);
}

// Two lines over the picture, naming the byte count and the format of the sample.
void drawFormatNotice(FrameBitmap& bitmap, std::int32_t byteCount, std::uint32_t code) {
  drawText(bitmap, 0, 0, "Unknown compression");
  drawText(bitmap, 0, textHeight(),
           "DataSize: " + std::to_string(byteCount) + "  FourCC: " + fourccLabel(code));
}

}  // namespace

std::int64_t requiredSampleBytes(std::uint32_t code, std::int32_t width, std::int32_t height) {
  const std::int64_t pixels = std::int64_t{width} * height;
  switch (lookupFormat(code).layout) {
    case Layout::Rgb:
      return pixels * 3;
    case Layout::Planar420:
    case Layout::SemiPlanar420:
      return pixels * 3 / 2;
    case Layout::Packed422:
      return pixels * 2;
    case Layout::Grey:
      return pixels;
    case Layout::Jpeg:
      return -1;
    case Layout::Unknown:
      break;
  }
  return -2;
}

FrameConverter::FrameConverter()
    : kernels_(bestYuvKernels()), jpeg_(std::make_unique<JpegDecoder>()) {}

FrameConverter::~FrameConverter() = default;

ConvertOutcome FrameConverter::ConvertFrame(std::uint32_t code, std::int32_t byteCount,
                                            const std::uint8_t* data, FrameBitmap& bitmap) {
  if (data == nullptr) return ConvertOutcome::NoData;
  try {
    if (convert(code, byteCount, data, bitmap)) {
      bitmap.setShowsNotice(false);
      return ConvertOutcome::Converted;
    }
    drawFormatNotice(bitmap, byteCount, code);
    bitmap.setShowsNotice(true);
    return ConvertOutcome::Notice;
  } catch (const std::exception&) {
    return ConvertOutcome::Failed;  // e.g. out of memory: the next request tries again
  }
}

bool FrameConverter::convert(std::uint32_t code, std::int32_t byteCount, const std::uint8_t* data,
                             FrameBitmap& bitmap) {
  const FormatEntry format = lookupFormat(code);
  if (format.layout == Layout::Jpeg) {
    return byteCount > 0 && jpeg_->decodeInto(data, static_cast<std::size_t>(byteCount), bitmap);
  }
  if (format.layout == Layout::Unknown ||
      byteCount != requiredSampleBytes(code, bitmap.width(), bitmap.height())) {
    return false;
  }
  rowMax_.resize(static_cast<std::size_t>(bitmap.height()));
  std::uint8_t* rowMax = rowMax_.data();
  switch (format.layout) {
    case Layout::Rgb:
      copyRgb(data, bitmap);
      return true;  // copied, not measured
    case Layout::Packed422:
      convertPacked(kernels_, data, format.swapped, bitmap, rowMax);
      break;
    case Layout::Planar420:
      convertPlanar(kernels_, data, format.swapped, bitmap, neutralChroma(bitmap.width()), rowMax);
      break;
    case Layout::SemiPlanar420:
      convertSemiPlanar(kernels_, data, format.swapped, bitmap, neutralChroma(bitmap.width()),
                        rowMax);
      break;
    case Layout::Grey:
      convertGrey(kernels_, data, bitmap, rowMax);
      break;
    case Layout::Jpeg:
    case Layout::Unknown:
      return true;
  }
  bitmap.setRowChannelMax(rowMax_);
  return true;
}

// W bytes cover a chroma row of either 4:2:0 layout: W/2 of one plane, or W/2 pairs.
const std::vector<std::uint8_t>& FrameConverter::neutralChroma(std::int32_t width) {
  if (neutralChroma_.size() < static_cast<std::size_t>(width))
    neutralChroma_.assign(static_cast<std::size_t>(width), kNeutralChroma);
  return neutralChroma_;
}

}  // namespace ravdel
