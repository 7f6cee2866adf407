// libFuzzer target: FrameConverter::ConvertFrame on arbitrary samples of every format, sizes
// and byte counts, then analyseFrame on the result. Input layout: convert_frame_input.h.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/frame_bitmap.h"
#include "convert/frame_converter.h"
#include "convert_frame_input.h"
#include "detection/frame_analysis.h"

namespace ravdel {
namespace {

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "convert_frame_fuzzer: %s\n", what);
  std::abort();
}

// The sample in a heap block of exactly its size, so that any read past it is caught.
struct Sample {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::int32_t byteCount = 0;
  const std::uint8_t* data() const { return bytes.get(); }
};

Sample makeSample(const fuzz::ConvertFrameInput& in) {
  const std::int64_t required = requiredSampleBytes(in.fourcc, in.width, in.height);
  const std::int64_t known = required >= 0 ? required : static_cast<std::int64_t>(in.payloadSize);
  std::int64_t count = 0;
  switch (in.mode) {
    case fuzz::SizeMode::Exact:
      count = known;
      break;
    case fuzz::SizeMode::Payload:
      count = static_cast<std::int64_t>(in.payloadSize);
      break;
    case fuzz::SizeMode::Near:
      count = std::max<std::int64_t>(0, known + static_cast<std::int8_t>(in.delta));
      break;
    case fuzz::SizeMode::Empty:
    case fuzz::SizeMode::NoData:
    case fuzz::SizeMode::Negative:
      count = 0;
      break;
  }
  Sample s;
  s.bytes.reset(new std::uint8_t[static_cast<std::size_t>(count)]);
  s.byteCount = static_cast<std::int32_t>(count);
  // Longer than the payload: repeat it, so a short input still fills a whole frame.
  for (std::size_t i = 0; i < static_cast<std::size_t>(count);) {
    if (in.payloadSize == 0) {
      std::memset(s.bytes.get() + i, 0, static_cast<std::size_t>(count) - i);
      break;
    }
    const std::size_t n = std::min(in.payloadSize, static_cast<std::size_t>(count) - i);
    std::memcpy(s.bytes.get() + i, in.payload, n);
    i += n;
  }
  if (in.mode == fuzz::SizeMode::Negative) s.byteCount = -1 - in.delta;
  return s;
}

bool samePixels(const FrameBitmap& a, const FrameBitmap& b) {
  return a.width() == b.width() && a.height() == b.height() && a.byteCount() == b.byteCount() &&
         (a.byteCount() == 0 || std::memcmp(a.data(), b.data(), a.byteCount()) == 0);
}

int fuzzOne(const std::uint8_t* data, std::size_t size) {
  fuzz::ConvertFrameInput in;
  if (!fuzz::decodeInput(data, size, in)) return -1;  // too short: not added to the corpus
  const Sample sample = makeSample(in);
  const std::uint8_t* sampleData = in.mode == fuzz::SizeMode::NoData ? nullptr : sample.data();

  FrameBitmap bitmap;
  check(bitmap.resize(in.width, in.height), "the fuzzed size is a valid bitmap size");
  bitmap.fill(in.background, in.background, in.background);
  const FrameBitmap before = bitmap;

  // One converter, used twice with the same sample as the stream reuses it: the second
  // result must not depend on what the first left behind.
  FrameConverter converter;
  const ConvertOutcome first =
      converter.ConvertFrame(in.fourcc, sample.byteCount, sampleData, bitmap);
  const FrameBitmap afterFirst = bitmap;
  const ConvertOutcome second =
      converter.ConvertFrame(in.fourcc, sample.byteCount, sampleData, bitmap);
  check(first == second, "the same sample converts with the same outcome");
  check(samePixels(afterFirst, bitmap), "the same sample converts to the same picture");

  switch (first) {
    case ConvertOutcome::NoData:
      check(sampleData == nullptr, "NoData only without a sample");
      check(samePixels(before, bitmap), "NoData leaves the picture alone");
      break;
    case ConvertOutcome::Converted: {
      check(!bitmap.showsNotice(), "a converted picture is not the notice");
      const std::int64_t required = requiredSampleBytes(in.fourcc, in.width, in.height);
      check(required == -1 || required == sample.byteCount, "only samples of the right size");
      break;
    }
    case ConvertOutcome::Notice:
      check(bitmap.showsNotice(), "the notice is marked as such");
      break;
    case ConvertOutcome::Failed:
      break;
  }

  FrameBitmap work = bitmap;
  const FrameAnalysis a = analyseFrame(work, in.options);
  check(a.width == in.width && a.height == in.height, "the analysis has the frame's size");
  if (!bitmap.empty()) {
    check(a.peak.x >= 0 && a.peak.x < in.width && a.peak.y >= 0 && a.peak.y < in.height,
          "the peak lies inside the frame");
    const std::uint8_t* p = bitmap.row(a.peak.y) + 3 * static_cast<std::size_t>(a.peak.x);
    check(p[0] == a.peak.b && p[1] == a.peak.g && p[2] == a.peak.r, "the peak is that pixel");
  }
  check(!(a.event && bitmap.showsNotice()), "the notice is never an event");
  check(a.lensMean.has_value() == in.options.lensCheck, "lens mean only when asked");
  return 0;
}

}  // namespace
}  // namespace ravdel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return ravdel::fuzzOne(data, size);
}
