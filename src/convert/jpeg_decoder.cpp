#include "convert/jpeg_decoder.h"

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace ravdel {
namespace {

// Pictures beyond this many pixels are refused rather than decoded.
constexpr std::uint64_t kMaxJpegPixels = std::uint64_t{1} << 28;
// Upper bound for libjpeg's own allocations (progressive pictures buffer all coefficients).
constexpr long kMaxDecoderMemory = 512L * 1024 * 1024;
// Rows asked from libjpeg per call.
constexpr int kRowsPerRead = 8;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool corruptData;  // a warning that means the picture is damaged
};

[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Warnings about missing or damaged entropy data leave grey or garbled rows behind; such a
// sample counts as undecodable. Other warnings (extraneous bytes before a marker, common
// with some cameras) are harmless.
void onMessage(j_common_ptr cinfo, int level) {
  if (level != -1) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  const int code = err->pub.msg_code;
  if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC) {
    err->corruptData = true;
  }
}

void noOutput(j_common_ptr) {}

}  // namespace

struct JpegDecoder::State {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  std::vector<std::uint8_t> wideRow;  // a decoded row wider than the bitmap, before clipping
};

JpegDecoder::JpegDecoder() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.cinfo.err = jpeg_std_error(&s.err.pub);
  s.err.pub.error_exit = onError;
  s.err.pub.emit_message = onMessage;
  s.err.pub.output_message = noOutput;
  if (setjmp(s.err.jump) != 0) throw std::bad_alloc();
  jpeg_create_decompress(&s.cinfo);
}

JpegDecoder::~JpegDecoder() {
  jpeg_destroy_decompress(&state_->cinfo);
}

namespace {

// Runs one decoding step under libjpeg's error handling: an error inside jumps back here.
// The step keeps only trivially destructible locals, so the jump skips no destructor.
template <typename Step>
bool guarded(jpeg_decompress_struct& cinfo, ErrorManager& err, Step&& step) {
  err.corruptData = false;
  if (setjmp(err.jump) != 0) {
    jpeg_abort_decompress(&cinfo);
    return false;
  }
  bool ok = false;
  try {
    ok = step();
  } catch (...) {
    jpeg_abort_decompress(&cinfo);
    throw;
  }
  jpeg_abort_decompress(&cinfo);  // ready for the next sample; the rest of the data is ignored
  return ok && !err.corruptData;
}

bool startDecoding(jpeg_decompress_struct& cinfo, const std::uint8_t* data, std::size_t size) {
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (std::uint64_t{cinfo.image_width} * cinfo.image_height > kMaxJpegPixels) return false;
  cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  return cinfo.output_components == 3;
}

}  // namespace

bool JpegDecoder::decodeInto(const std::uint8_t* data, std::size_t size, FrameBitmap& bitmap) {
  if (data == nullptr || size == 0) return false;
  State& s = *state_;
  jpeg_decompress_struct& cinfo = s.cinfo;
  return guarded(cinfo, s.err, [&]() -> bool {
    if (!startDecoding(cinfo, data, size)) return false;
    // An empty bitmap has no row storage: the header and the start were checked, and that is all.
    const JDIMENSION rows =
        bitmap.empty()
            ? 0
            : std::min<JDIMENSION>(cinfo.output_height, static_cast<JDIMENSION>(bitmap.height()));
    const bool clipped = cinfo.output_width > static_cast<JDIMENSION>(bitmap.width());
    if (clipped) s.wideRow.resize(std::size_t{cinfo.output_width} * 3);
    JSAMPROW rowPointers[kRowsPerRead];
    while (cinfo.output_scanline < rows) {
      const JDIMENSION first = cinfo.output_scanline;
      const JDIMENSION count = clipped ? 1 : std::min<JDIMENSION>(kRowsPerRead, rows - first);
      for (JDIMENSION i = 0; i < count; ++i) {
        rowPointers[i] =
            clipped ? s.wideRow.data() : bitmap.row(static_cast<std::int32_t>(first + i));
      }
      const JDIMENSION got = jpeg_read_scanlines(&cinfo, rowPointers, count);
      if (s.err.corruptData) return false;
      if (clipped && got == 1) {
        std::memcpy(bitmap.row(static_cast<std::int32_t>(first)), s.wideRow.data(),
                    bitmap.stride());
      }
    }
    return true;
  });
}

bool JpegDecoder::readSize(const std::uint8_t* data, std::size_t size, std::int32_t& width,
                           std::int32_t& height) {
  if (data == nullptr || size == 0) return false;
  State& s = *state_;
  jpeg_decompress_struct& cinfo = s.cinfo;
  return guarded(cinfo, s.err, [&]() -> bool {
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    width = static_cast<std::int32_t>(cinfo.image_width);
    height = static_cast<std::int32_t>(cinfo.image_height);
    return true;
  });
}

}  // namespace ravdel
