#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/fourcc.h"
#include "detection/frame_analysis.h"

// How the frame-converter fuzzer reads its input: a fixed header, then the sample bytes.
// Shared by the fuzzer and the seed writer so that seeds decode as intended.
namespace ravdel::fuzz {

inline constexpr std::size_t kHeaderBytes = 16;

// Formats picked by header byte 0 (modulo 14); 12 and 13 take the code from bytes 1..4.
// Later formats go at the end, so that the older inputs' first bytes keep their format.
inline constexpr std::array<std::uint32_t, 12> kFormats = {
    fourcc::kRgb,  fourcc::kI420, fourcc::kIyuv, fourcc::kYv12, fourcc::kYuy2, fourcc::kYunv,
    fourcc::kYuyv, fourcc::kMjpg, fourcc::kNv12, fourcc::kNv21, fourcc::kUyvy, fourcc::kGrey,
};
inline constexpr std::uint8_t kArbitraryFormat = 12;
inline constexpr std::uint8_t kFormatChoices = 14;
static_assert(kArbitraryFormat == kFormats.size() && kFormatChoices == kArbitraryFormat + 2);

// Header byte 5 (modulo 16): mostly camera-like sizes up to 640 x 480, sometimes thin
// pictures up to 8000 pixels long.
inline constexpr std::uint8_t kWideShape = 15;  // width 0..8000, height 0..4
inline constexpr std::uint8_t kTallShape = 14;  // width 0..4, height 0..8000
inline constexpr std::int32_t kMaxWidth = 640, kMaxHeight = 480, kMaxThinLength = 8000;

// Header byte 10 (modulo 6): how many bytes the sample has.
enum class SizeMode : std::uint8_t {
  Exact,     // the format's required count (the payload repeated); the payload for Motion-JPEG
  Payload,   // the payload as it is
  Near,      // the required count plus the signed delta of byte 11
  Empty,     // zero bytes at a valid pointer
  NoData,    // a null pointer
  Negative,  // a negative count (-1 - byte 11) at a valid pointer to zero bytes
};
inline constexpr std::uint8_t kSizeModeCount = 6;

struct ConvertFrameInput {
  std::uint32_t fourcc = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  SizeMode mode = SizeMode::Exact;
  std::uint8_t delta = 0;
  std::uint8_t background = 0;  // the bitmap's grey level before the first conversion
  AnalysisOptions options;
  const std::uint8_t* payload = nullptr;
  std::size_t payloadSize = 0;
};

inline std::uint16_t readLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// False when the input is shorter than the header.
inline bool decodeInput(const std::uint8_t* data, std::size_t size, ConvertFrameInput& in) {
  if (size < kHeaderBytes) return false;
  const std::uint8_t format = data[0] % kFormatChoices;
  in.fourcc = format < kArbitraryFormat
                  ? kFormats[format]
                  : makeFourCC(static_cast<char>(data[1]), static_cast<char>(data[2]),
                               static_cast<char>(data[3]), static_cast<char>(data[4]));
  const std::uint16_t w = readLe16(data + 6), h = readLe16(data + 8);
  switch (data[5] % 16) {
    case kWideShape:
      in.width = w % (kMaxThinLength + 1);
      in.height = h % 5;
      break;
    case kTallShape:
      in.width = w % 5;
      in.height = h % (kMaxThinLength + 1);
      break;
    default:
      in.width = w % (kMaxWidth + 1);
      in.height = h % (kMaxHeight + 1);
      break;
  }
  in.mode = static_cast<SizeMode>(data[10] % kSizeModeCount);
  in.delta = data[11];
  in.background = data[12];
  in.options.limit = data[13];
  in.options.gray = (data[14] & 1) != 0;
  in.options.inverse = (data[14] & 2) != 0;
  in.options.lensCheck = (data[14] & 4) != 0;
  in.payload = data + kHeaderBytes;
  in.payloadSize = size - kHeaderBytes;
  return true;
}

}  // namespace ravdel::fuzz
