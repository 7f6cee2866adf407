#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/frame_bitmap.h"

namespace ravdel {

// A failed image write; what() is the text shown to the user.
class ImageWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How the pixels are compressed. Event images are written on the frame path, so the default
// favours speed: no row filter and the cheaper of two fast zlib strategies, chosen from a few
// rows. On dark sensor noise that is several times faster than libpng's defaults (level 6,
// a filter chosen per row) at about the same size.
struct PngSettings {
  bool libpngDefaults = false;
};

// Writes `bitmap` as an 8-bit truecolour PNG (IHDR, IDAT, IEND only) to `path`, replacing
// any file of that name. The data goes to a temporary file beside it first, which is
// renamed into place, so a failed write leaves no partial file. Throws ImageWriteError:
// 'Cannot create file "<full path>". <reason>' when the file cannot be created.
void writePng(const FrameBitmap& bitmap, const std::string& path, const PngSettings& settings = {});

// Writes `bitmap` as a new file that replaces none: under pathFor(0), or where a file has that
// name already, pathFor(1), pathFor(2) ... (all in one folder), up to `names` names. Returns the
// number of the name written. Throws ImageWriteError as writePng does, and when every name is
// taken.
int writeNewPng(const FrameBitmap& bitmap, const std::function<std::string(int)>& pathFor,
                int names, const PngSettings& settings = {});

// The same picture as PNG bytes in memory; empty for an empty bitmap or when libpng fails.
std::vector<std::uint8_t> encodePng(const FrameBitmap& bitmap, const PngSettings& settings = {});

}  // namespace ravdel
