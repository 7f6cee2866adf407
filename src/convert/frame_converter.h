#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/frame_bitmap.h"

namespace ravdel {

class JpegDecoder;
struct YuvKernels;

enum class ConvertOutcome {
  NoData,     // no sample: the bitmap keeps its picture; not converted
  Converted,  // the sample is the picture now
  Notice,     // unconvertible sample: the format notice is drawn over the previous picture
  Failed,     // something else went wrong part-way; try again on the next request
};

// True when the bitmap now holds this sample's result (picture or notice).
inline bool completed(ConvertOutcome o) {
  return o == ConvertOutcome::Converted || o == ConvertOutcome::Notice;
}

// Required byte count of a sample of this format and size; -1 when any count is accepted
// (Motion-JPEG) and -2 when the format is not one we convert.
std::int64_t requiredSampleBytes(std::uint32_t fourcc, std::int32_t width, std::int32_t height);

// Turns raw camera samples into the frame bitmap. Owns the converter state (the JPEG decoder)
// and is used by one thread at a time.
class FrameConverter {
 public:
  FrameConverter();
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Converts one sample of `byteCount` bytes at `data` (or none) in format `fourcc` into
  // `bitmap`, whose size is the stream's. Never reads outside the sample.
  ConvertOutcome ConvertFrame(std::uint32_t fourcc, std::int32_t byteCount,
                              const std::uint8_t* data, FrameBitmap& bitmap);

 private:
  bool convert(std::uint32_t fourcc, std::int32_t byteCount, const std::uint8_t* data,
               FrameBitmap& bitmap);
  const std::vector<std::uint8_t>& neutralChroma(std::int32_t width);

  const YuvKernels& kernels_;
  std::unique_ptr<JpegDecoder> jpeg_;
  std::vector<std::uint8_t> neutralChroma_;  // chroma of a picture too short to carry any
  std::vector<std::uint8_t> rowMax_;         // each converted row's largest channel
};

}  // namespace ravdel
