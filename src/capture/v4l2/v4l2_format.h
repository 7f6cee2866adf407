#pragma once

#include <cstdint>

#include "capture/capture_device.h"
#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// A capture format as either buffer API reports it. The single-plane API always has one
// plane; the multi-planar API (a camera behind an ISP) may report more, each in memory of its
// own, which this backend does not stream.
struct CaptureFormat {
  std::uint32_t pixelFormat = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t bytesPerLine = 0;  // of the first plane; 0 when the driver leaves it open
  std::uint32_t planes = 1;
};

// VIDIOC_G_FMT of the capture stream of `bufferType` (V4L2_BUF_TYPE_VIDEO_CAPTURE or
// V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE). 0, or the errno of the failure.
int readCaptureFormat(V4l2Io& io, int fd, std::uint32_t bufferType, CaptureFormat& format);

// VIDIOC_S_FMT (or VIDIOC_TRY_FMT as `request`) of a pixel format and size, the rest as the
// driver has it. `granted` receives what the driver answered, which may differ from what was
// asked for: it picks the nearest size it supports. 0, or the errno of the failure.
int negotiateFormat(V4l2Io& io, int fd, std::uint32_t bufferType, unsigned long request,
                    std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                    CaptureFormat& granted);

// The shortest frame interval VIDIOC_ENUM_FRAMEINTERVALS offers for a pixel format at a size:
// the shortest discrete one, or the low end of a stepwise or continuous range. Unknown when
// the driver does not enumerate intervals.
FrameInterval fastestInterval(V4l2Io& io, int fd, std::uint32_t pixelFormat, std::uint32_t width,
                              std::uint32_t height);

// VIDIOC_S_PARM with `interval`, when VIDIOC_G_PARM says the driver lets the application choose
// (V4L2_CAP_TIMEPERFRAME). 0 when set or not settable, otherwise the errno of the failure.
int setFrameInterval(V4l2Io& io, int fd, std::uint32_t bufferType, FrameInterval interval);

}  // namespace ravdel
