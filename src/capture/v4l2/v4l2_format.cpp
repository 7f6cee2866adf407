#include "capture/v4l2/v4l2_format.h"

#include <linux/videodev2.h>

#include <cerrno>

#include "capture/v4l2/v4l2_query.h"

namespace ravdel {
namespace {

// Bound on what a driver may enumerate, so that a broken one cannot loop us forever.
constexpr std::uint32_t kMaxIntervals = 256;

bool multiPlanar(std::uint32_t bufferType) {
  return bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
}

CaptureFormat captureFormatOf(const v4l2_format& format) {
  CaptureFormat result;
  if (multiPlanar(format.type)) {
    const v4l2_pix_format_mplane& pix = format.fmt.pix_mp;
    result = {pix.pixelformat, pix.width, pix.height, pix.plane_fmt[0].bytesperline,
              pix.num_planes};
  } else {
    const v4l2_pix_format& pix = format.fmt.pix;
    result = {pix.pixelformat, pix.width, pix.height, pix.bytesperline, 1};
  }
  return result;
}

int lastError() {
  return errno != 0 ? errno : EIO;
}

}  // namespace

int readCaptureFormat(V4l2Io& io, int fd, std::uint32_t bufferType, CaptureFormat& format) {
  v4l2_format request{};
  request.type = bufferType;
  if (ioctlRetry(io, fd, VIDIOC_G_FMT, &request) < 0) return lastError();
  format = captureFormatOf(request);
  return 0;
}

int negotiateFormat(V4l2Io& io, int fd, std::uint32_t bufferType, unsigned long request,
                    std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                    CaptureFormat& granted) {
  v4l2_format format{};
  format.type = bufferType;
  if (ioctlRetry(io, fd, VIDIOC_G_FMT, &format) < 0) format = {};  // colour space and the like
  format.type = bufferType;
  if (multiPlanar(bufferType)) {
    v4l2_pix_format_mplane& pix = format.fmt.pix_mp;
    pix.pixelformat = pixelFormat;
    pix.width = width;
    pix.height = height;
    pix.field = V4L2_FIELD_ANY;
    pix.num_planes = 1;
    pix.plane_fmt[0].bytesperline = 0;
    pix.plane_fmt[0].sizeimage = 0;
  } else {
    v4l2_pix_format& pix = format.fmt.pix;
    pix.pixelformat = pixelFormat;
    pix.width = width;
    pix.height = height;
    pix.field = V4L2_FIELD_ANY;
    pix.bytesperline = 0;
    pix.sizeimage = 0;
  }
  if (ioctlRetry(io, fd, request, &format) < 0) return lastError();
  granted = captureFormatOf(format);
  return 0;
}

FrameInterval fastestInterval(V4l2Io& io, int fd, std::uint32_t pixelFormat, std::uint32_t width,
                              std::uint32_t height) {
  FrameInterval fastest;
  const auto consider = [&fastest](const v4l2_fract& f) {
    if (f.numerator == 0 || f.denominator == 0) return;
    // a/b < c/d without rounding: a*d < c*b in 64 bits.
    if (!fastest.known() || std::uint64_t{f.numerator} * fastest.denominator <
                                std::uint64_t{fastest.numerator} * f.denominator)
      fastest = {f.numerator, f.denominator};
  };
  v4l2_frmivalenum interval{};
  interval.pixel_format = pixelFormat;
  interval.width = width;
  interval.height = height;
  for (interval.index = 0; interval.index < kMaxIntervals; ++interval.index) {
    if (ioctlRetry(io, fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
    if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) {
      consider(interval.stepwise.min);  // a range is the only entry
      break;
    }
    consider(interval.discrete);
  }
  return fastest;
}

int setFrameInterval(V4l2Io& io, int fd, std::uint32_t bufferType, FrameInterval interval) {
  v4l2_streamparm parameters{};
  parameters.type = bufferType;
  if (ioctlRetry(io, fd, VIDIOC_G_PARM, &parameters) < 0)
    return errno == ENOTTY || errno == EINVAL ? 0 : lastError();  // no frame rate control
  if ((parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) == 0) return 0;
  parameters.parm.capture.timeperframe = {interval.numerator, interval.denominator};
  if (ioctlRetry(io, fd, VIDIOC_S_PARM, &parameters) < 0) return lastError();
  return 0;
}

}  // namespace ravdel
