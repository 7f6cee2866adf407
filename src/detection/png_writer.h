#pragma once

#include <stdexcept>
#include <string>

#include "capture/frame_bitmap.h"

namespace ravdel {

// A failed image write; what() is the text shown to the user.
class ImageWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Settings of the encoder; the defaults are the ones event images are written with.
struct PngSettings {
  int compressionLevel = 1;  // zlib level
  bool fastFilters = true;   // one fixed filter (up) instead of libpng's per-row choice
};

// Writes `bitmap` as an 8-bit truecolour PNG (IHDR, IDAT, IEND only) to `path`, replacing
// any file of that name. The data goes to a temporary file beside it first, which is
// renamed into place, so a failed write leaves no partial file. Throws ImageWriteError:
// 'Cannot create file "<full path>". <reason>' when the file cannot be created.
void writePng(const FrameBitmap& bitmap, const std::string& path, const PngSettings& settings = {});

}  // namespace ravdel
