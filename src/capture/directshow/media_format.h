#pragma once

#include <dshow.h>

#include <cstdint>
#include <optional>

#include "capture/frame_packer.h"

namespace ravdel::dshow {

// What a video media type says about its frames, read from either kind of format block a
// capture pin offers: VIDEOINFOHEADER or VIDEOINFOHEADER2 (many UVC cameras list every mode
// once with each; the bitmap header sits at a different place in them).
struct MediaFormat {
  std::int32_t width = 0;          // of the picture
  std::int32_t height = 0;         // positive, whichever way the rows run
  std::uint32_t compression = 0;   // biCompression: the FourCC, 0 (BI_RGB) for uncompressed RGB
  std::int64_t frameInterval = 0;  // AvgTimePerFrame, 100 ns units
  FrameLayout layout;              // how the frames lie in a sample, for the packer
};

// Nothing for a type without a video format block of either kind, or with a block too short.
//
// The picture is the target rectangle when it is given, starts at the top-left corner and lies
// within the bitmap: then biWidth is the stride in pixels (as a driver pads its rows). The
// stride is biWidth's pixels, for RGB rounded up to four bytes; when biWidth is the picture's
// width and biSizeImage holds whole rows of a wider stride, that stride. RGB runs bottom row
// first unless biHeight is negative; YUV runs top row first either way.
std::optional<MediaFormat> mediaFormatOf(const AM_MEDIA_TYPE& type);

// The frame interval of a format block of either kind set to `interval` (the fastest a
// capability offers, asked for at a format switch). False for other blocks.
bool setFrameInterval(AM_MEDIA_TYPE& type, std::int64_t interval);

}  // namespace ravdel::dshow
