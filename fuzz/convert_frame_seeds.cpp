// Writes the seed corpus of convert_frame_fuzzer into the directory given: one valid sample
// of each layout, odd and thin sizes, and a few JPEG flavours made with libjpeg.
// Usage: convert_frame_seeds DIR

// clang-format off
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
// clang-format on

#include "convert/frame_converter.h"
#include "convert_frame_input.h"
#include "support/jpeg_encode.h"

namespace ravdel {
namespace {

constexpr std::size_t kMaxPayload = 4096;

struct Header {
  std::uint8_t format = 0;  // index into fuzz::kFormats, or fuzz::kArbitraryFormat
  std::uint32_t code = 0;   // with kArbitraryFormat
  std::uint8_t shape = 0;
  std::uint16_t width = 0, height = 0;
  fuzz::SizeMode mode = fuzz::SizeMode::Exact;
  std::uint8_t delta = 0;
  std::uint8_t limit = 150;
  std::uint8_t flags = 0;  // 1 gray, 2 inverse, 4 lens check
};

std::vector<std::uint8_t> encodeHeader(const Header& h) {
  std::vector<std::uint8_t> out(fuzz::kHeaderBytes, 0);
  out[0] = h.format;
  for (int i = 0; i < 4; ++i)
    out[1 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(h.code >> (8 * i));
  out[5] = h.shape;
  out[6] = static_cast<std::uint8_t>(h.width);
  out[7] = static_cast<std::uint8_t>(h.width >> 8);
  out[8] = static_cast<std::uint8_t>(h.height);
  out[9] = static_cast<std::uint8_t>(h.height >> 8);
  out[10] = static_cast<std::uint8_t>(h.mode);
  out[11] = h.delta;
  out[12] = 0x40;
  out[13] = h.limit;
  out[14] = h.flags;
  return out;
}

// A picture with a smooth background and one bright spot.
FrameBitmap testPattern(std::int32_t width, std::int32_t height) {
  FrameBitmap p(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = p.row(y);
    for (std::int32_t x = 0; x < width; ++x) {
      for (std::int32_t c = 0; c < 3; ++c) {
        const bool spot = x == width / 3 && y == height / 2;
        row[3 * x + c] = static_cast<std::uint8_t>(spot ? 250 : (x * 3 + y * 5 + c * 40) % 90);
      }
    }
  }
  return p;
}

std::vector<std::uint8_t> encodeJpeg(std::int32_t width, std::int32_t height,
                                     const test::JpegOptions& options) {
  return test::encodeJpeg(testPattern(width, height), options);
}

bool writeSeed(const std::string& dir, const std::string& name, const Header& h,
               const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> bytes = encodeHeader(h);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Exact-size payload of a raw format: the fuzzer repeats shorter ones, but a whole frame of
// varied bytes makes a better start.
std::vector<std::uint8_t> rawPayload(std::uint32_t code, int width, int height) {
  const std::int64_t n = requiredSampleBytes(code, width, height);
  std::vector<std::uint8_t> p(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < p.size(); ++i)
    p[i] = static_cast<std::uint8_t>((i * 7 + i / 97) % 200);
  if (!p.empty()) p[p.size() / 2] = 255;
  return p;
}

std::uint8_t formatIndex(std::uint32_t code) {
  for (std::size_t i = 0; i < fuzz::kFormats.size(); ++i) {
    if (fuzz::kFormats[i] == code) return static_cast<std::uint8_t>(i);
  }
  return fuzz::kArbitraryFormat;
}

}  // namespace
}  // namespace ravdel

int main(int argc, char** argv) {
  using namespace ravdel;
  if (argc != 2) {
    std::fprintf(stderr, "usage: convert_frame_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;
  struct Raw {
    const char* name;
    std::uint32_t code;
    std::uint16_t width, height;
    std::uint8_t shape, flags;
  };
  const Raw raws[] = {
      {"yuy2_64x48", fourcc::kYuy2, 64, 48, 0, 0},
      {"yunv_33x7", fourcc::kYunv, 33, 7, 0, 1},
      {"yuyv_wide", fourcc::kYuyv, 4001, 3, fuzz::kWideShape, 2},
      {"i420_33x17", fourcc::kI420, 33, 17, 0, 4},
      {"iyuv_64x1", fourcc::kIyuv, 64, 1, 0, 0},
      {"yv12_tall", fourcc::kYv12, 3, 999, fuzz::kTallShape, 3},
      {"nv12_33x17", fourcc::kNv12, 33, 17, 0, 0},
      {"nv21_5x1", fourcc::kNv21, 5, 1, 0, 2},
      {"nv12_wide", fourcc::kNv12, 3001, 3, fuzz::kWideShape, 0},
      {"uyvy_33x7", fourcc::kUyvy, 33, 7, 0, 4},
      {"uyvy_tall", fourcc::kUyvy, 3, 999, fuzz::kTallShape, 0},
      {"grey_64x48", fourcc::kGrey, 64, 48, 0, 1},
      {"grey_wide", fourcc::kGrey, 4001, 1, fuzz::kWideShape, 0},
      {"rgb_7x5", fourcc::kRgb, 7, 5, 0, 0},
      {"yuy2_640x480", fourcc::kYuy2, 640, 480, 0, 0},
  };
  for (const Raw& r : raws) {
    Header h;
    h.format = formatIndex(r.code);
    h.shape = r.shape;
    h.width = r.width;
    h.height = r.height;
    h.flags = r.flags;
    // Seeds stay short (the run's -max_len); the fuzzer repeats a payload to the frame size.
    std::vector<std::uint8_t> payload = rawPayload(r.code, r.width, r.height);
    if (payload.size() > kMaxPayload) payload.resize(kMaxPayload);
    ok = writeSeed(dir, r.name, h, payload) && ok;
  }

  Header jpeg;
  jpeg.format = formatIndex(fourcc::kMjpg);
  jpeg.width = 64;
  jpeg.height = 48;
  ok = writeSeed(dir, "mjpg_64x48", jpeg, encodeJpeg(64, 48, {.quality = 75})) && ok;
  ok = writeSeed(dir, "mjpg_restarts", jpeg,
                 encodeJpeg(80, 40, {.quality = 75, .restartRows = 1})) &&
       ok;
  jpeg.width = 16;  // a picture larger than the stream's frame: clipped
  jpeg.height = 16;
  ok = writeSeed(dir, "mjpg_gray_clipped", jpeg,
                 encodeJpeg(21, 19, {.quality = 75, .grayscale = true})) &&
       ok;
  jpeg.width = 50;
  jpeg.height = 40;
  jpeg.flags = 6;
  ok = writeSeed(dir, "mjpg_progressive", jpeg,
                 encodeJpeg(40, 30, {.quality = 75, .progressive = true})) &&
       ok;

  Header unknown;
  unknown.format = fuzz::kArbitraryFormat;
  unknown.code = makeFourCC('H', '2', '6', '4');
  unknown.width = 320;
  unknown.height = 240;
  unknown.mode = fuzz::SizeMode::Payload;
  ok = writeSeed(dir, "unknown_h264", unknown, std::vector<std::uint8_t>(100, 0x11)) && ok;

  Header wrongSize;
  wrongSize.format = formatIndex(fourcc::kYuy2);
  wrongSize.width = 640;
  wrongSize.height = 480;
  wrongSize.mode = fuzz::SizeMode::Near;
  wrongSize.delta = 1;
  ok = writeSeed(dir, "yuy2_one_byte_more", wrongSize, {0x80, 0x10}) && ok;

  wrongSize.format = formatIndex(fourcc::kNv21);
  wrongSize.width = 33;
  wrongSize.height = 17;
  wrongSize.delta = 0xFF;  // one byte short
  ok = writeSeed(dir, "nv21_one_byte_short", wrongSize, {0x80, 0x10}) && ok;

  if (!ok) std::fprintf(stderr, "convert_frame_seeds: cannot write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
