#include "support/jpeg_encode.h"

// clang-format off
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
// clang-format on

namespace ravdel::test {
namespace {

// Only pictures we make ourselves are encoded; a failure is a broken caller, not a case to handle.
[[noreturn]] void abortOnError(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::abort();
}

}  // namespace

std::vector<std::uint8_t> encodeJpeg(const FrameBitmap& picture, const JpegOptions& options) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  err.error_exit = abortOnError;
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width());
  cinfo.image_height = static_cast<JDIMENSION>(picture.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  if (options.grayscale) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.subsample422 && !options.grayscale) {
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 1;
  }
  if (options.progressive) jpeg_simple_progression(&cinfo);
  cinfo.restart_in_rows = options.restartRows;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row =
        const_cast<JSAMPROW>(picture.row(static_cast<std::int32_t>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<std::uint8_t> jpeg(buffer, buffer + size);
  std::free(buffer);
  jpeg_destroy_compress(&cinfo);
  return jpeg;
}

}  // namespace ravdel::test
