#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/frame_packer.h"
#include "capture/v4l2/v4l2_format.h"
#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// The failure a system call's errno stands for: 0x8007 above the errno value in the low 16
// bits, like a wrapped Win32 error code, so failed() holds and the cause stays readable.
constexpr HResult hresultFromErrno(int error) {
  return static_cast<HResult>(0x80070000u | (static_cast<unsigned>(error) & 0xffffu));
}

// ioctl, repeated while a signal interrupts it. Any thread.
int ioctlRetry(V4l2Io& io, int fd, unsigned long request, void* arg);

// One video capture node: its path, its driver's card name as reported (untrimmed), and the
// buffer type it captures with: V4L2_BUF_TYPE_VIDEO_CAPTURE, or for a node that has only the
// multi-planar API (a laptop camera behind an ISP) V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE.
struct V4l2Node {
  std::string path;
  std::string card;
  std::uint32_t bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  // The device's own place: its bus_info ("usb-0000:00:14.0-1"), which stays while it is
  // plugged in and tells two cameras of one name apart; "#2", "#3" ... added for the further
  // capture nodes of one device. Empty when the driver reports none.
  std::string busInfo;
};

// The "video<number>" nodes under `directory` that capture video by streaming, through either
// buffer API (a UVC camera's metadata node does not), in numeric order. Opens each node
// briefly. Main thread.
std::vector<V4l2Node> findCaptureNodes(V4l2Io& io, const std::string& directory);

// The card names of findCaptureNodes, in its order; kSFalse when there is none. Main thread.
HResult listCaptureNames(V4l2Io& io, const std::string& directory, std::vector<std::string>& names);
// Their busInfo, in the same order.
HResult listCapturePaths(V4l2Io& io, const std::string& directory, std::vector<std::string>& paths);

// The code a V4L2 pixel format has in the format table (BGR24 is "RGB ", JPEG is MJPG, YU12
// is I420, NV12, NV21, UYVY and GREY keep theirs); formats the converter does not know keep
// their own code.
std::uint32_t capabilityCode(std::uint32_t pixelFormat);
// The code of frames in that format as the converter takes them (0 for BGR24).
std::uint32_t streamCode(std::uint32_t pixelFormat);
// How frames of a format lie in the driver's buffers (BGR24 top row first), for the packer.
FrameLayout frameLayoutOf(const CaptureFormat& format);

// The device's capabilities, sorted; capsIndex is the position in `pixelFormats`, which
// keeps the V4L2 pixel format each entry must be set with.
struct FormatTable {
  std::vector<VideoFormat> formats;
  std::vector<std::uint32_t> pixelFormats;
};
// Every pixel format and frame size the device enumerates for `bufferType` (each discrete size;
// the largest and the smallest of a range), each with its fastest frame interval; sampleSize
// is the size of a packed frame. Formats of several memory planes are left out. Main thread.
FormatTable readFormatTable(V4l2Io& io, int fd, std::uint32_t bufferType);

}  // namespace ravdel
