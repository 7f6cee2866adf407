#include "capture/v4l2/v4l2_query.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include "base/fourcc.h"
#include "capture/v4l2/v4l2_format.h"
#include "capture/v4l2/v4l2_handles.h"

namespace ravdel {
namespace {

// Bounds on what a driver may enumerate, so that a broken one cannot loop us forever.
constexpr std::uint32_t kMaxFormats = 256;
constexpr std::uint32_t kMaxSizes = 1024;

// The number of a "video<number>" entry; nothing for any other name.
std::optional<std::uint32_t> nodeNumber(const std::string& name) {
  constexpr std::size_t kPrefix = 5;  // "video"
  if (name.size() <= kPrefix || name.size() > kPrefix + 9 || name.compare(0, kPrefix, "video"))
    return std::nullopt;
  std::uint32_t number = 0;
  for (std::size_t i = kPrefix; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint32_t>(name[i] - '0');
  }
  return number;
}

// The capabilities of this node rather than of the whole device, when the driver tells them.
std::uint32_t nodeCapabilities(const v4l2_capability& caps) {
  return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
}

std::string fixedText(const std::uint8_t* text, std::size_t size) {
  const char* chars = reinterpret_cast<const char*>(text);
  return std::string(chars, strnlen(chars, size));
}

// The buffer type a node captures with: the single-plane API whenever it has it; 0 when it
// does not stream video capture.
std::uint32_t captureBufferType(std::uint32_t caps) {
  if ((caps & V4L2_CAP_STREAMING) == 0) return 0;
  if ((caps & V4L2_CAP_VIDEO_CAPTURE) != 0) return V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if ((caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE) != 0) return V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
  return 0;
}

// Opens the node and asks VIDIOC_QUERYCAP; the node when it streams video capture.
std::optional<V4l2Node> captureNode(V4l2Io& io, const std::string& path) {
  const DeviceHandle device(io, io.open(path));
  if (!device.valid()) {
    const int error = errno;
    if (error != ENOENT && error != ENODEV && error != ENXIO)
      captureLog("cannot open " + path + ": " + std::strerror(error));
    return std::nullopt;
  }
  v4l2_capability caps{};
  if (ioctlRetry(io, device.get(), VIDIOC_QUERYCAP, &caps) < 0) return std::nullopt;
  const std::uint32_t bufferType = captureBufferType(nodeCapabilities(caps));
  if (bufferType == 0) return std::nullopt;
  return V4l2Node{path, fixedText(caps.card, sizeof caps.card), bufferType,
                  fixedText(caps.bus_info, sizeof caps.bus_info)};
}

// Adds one size of a pixel format, with the fastest frame interval the device offers there
// (cheap: UVC drivers answer from the descriptors they read at plug-in).
void addSize(V4l2Io& io, int fd, FormatTable& table, std::uint32_t pixelFormat, std::uint32_t width,
             std::uint32_t height) {
  constexpr std::uint32_t kLargest = std::numeric_limits<std::int32_t>::max();
  if (width == 0 || height == 0 || width > kLargest || height > kLargest) return;
  VideoFormat format;
  format.width = static_cast<std::int32_t>(width);
  format.height = static_cast<std::int32_t>(height);
  const std::size_t bytes =
      FramePacker::packedBytes(frameLayoutOf({pixelFormat, width, height, 0, 1}));
  format.sampleSize = bytes <= kLargest ? static_cast<std::int32_t>(bytes) : 0;
  format.capsIndex = static_cast<std::int32_t>(table.pixelFormats.size());
  format.fourcc = capabilityCode(pixelFormat);
  format.fastest = fastestInterval(io, fd, pixelFormat, width, height);
  table.formats.push_back(format);
  table.pixelFormats.push_back(pixelFormat);
}

// VIDIOC_ENUM_FRAMESIZES: each discrete size; of a stepwise or continuous range the largest
// and the smallest. False when the driver enumerates none.
bool addFrameSizes(V4l2Io& io, int fd, std::uint32_t pixelFormat, FormatTable& table) {
  v4l2_frmsizeenum size{};
  size.pixel_format = pixelFormat;
  for (size.index = 0; size.index < kMaxSizes; ++size.index) {
    if (ioctlRetry(io, fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0) return size.index > 0;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      addSize(io, fd, table, pixelFormat, size.discrete.width, size.discrete.height);
      continue;
    }
    const v4l2_frmsize_stepwise range = size.stepwise;
    addSize(io, fd, table, pixelFormat, range.max_width, range.max_height);
    if (range.min_width != range.max_width || range.min_height != range.max_height)
      addSize(io, fd, table, pixelFormat, range.min_width, range.min_height);
    return true;
  }
  return true;
}

// A multi-planar node's format streams here only in one memory plane. VIDIOC_TRY_FMT tells;
// a driver that cannot say keeps the format (starting the stream checks again).
bool inOnePlane(V4l2Io& io, int fd, std::uint32_t pixelFormat, const CaptureFormat& current) {
  CaptureFormat tried;
  if (negotiateFormat(io, fd, V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE, VIDIOC_TRY_FMT, pixelFormat,
                      current.width, current.height, tried) != 0)
    return true;
  return tried.pixelFormat != pixelFormat || tried.planes == 1;
}

// A device with several capture nodes (a colour and an infrared camera in one) reports one
// bus_info for all: the second and later get "#2", "#3" ... in node order.
void numberSharedBusInfo(std::vector<V4l2Node>& nodes) {
  std::map<std::string, int> seen;
  for (V4l2Node& node : nodes) {
    if (node.busInfo.empty()) continue;
    const int count = ++seen[node.busInfo];
    if (count > 1) node.busInfo += "#" + std::to_string(count);
  }
}

// One text of every capture node, in findCaptureNodes' order; kSFalse when there is none.
HResult listEach(V4l2Io& io, const std::string& directory, std::string V4l2Node::*text,
                 std::vector<std::string>& list) {
  list.clear();
  for (V4l2Node& node : findCaptureNodes(io, directory))
    list.push_back(std::move(node.*text));
  return list.empty() ? kSFalse : kSOk;
}

}  // namespace

int ioctlRetry(V4l2Io& io, int fd, unsigned long request, void* arg) {
  int result;
  do {
    result = io.ioctl(fd, request, arg);
  } while (result < 0 && errno == EINTR);
  return result;
}

std::vector<V4l2Node> findCaptureNodes(V4l2Io& io, const std::string& directory) {
  std::vector<std::pair<std::uint32_t, std::string>> numbered;
  for (const std::string& name : io.listDirectory(directory)) {
    if (const auto number = nodeNumber(name)) numbered.emplace_back(*number, name);
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<V4l2Node> nodes;
  for (const auto& [number, name] : numbered) {
    if (auto node = captureNode(io, directory + "/" + name)) nodes.push_back(std::move(*node));
  }
  numberSharedBusInfo(nodes);
  return nodes;
}

HResult listCaptureNames(V4l2Io& io, const std::string& directory,
                         std::vector<std::string>& names) {
  return listEach(io, directory, &V4l2Node::card, names);
}

HResult listCapturePaths(V4l2Io& io, const std::string& directory,
                         std::vector<std::string>& paths) {
  return listEach(io, directory, &V4l2Node::busInfo, paths);
}

std::uint32_t capabilityCode(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
      return fourcc::kYuyv;
    case V4L2_PIX_FMT_YUV420:
      return fourcc::kI420;
    case V4L2_PIX_FMT_YVU420:
      return fourcc::kYv12;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
      return fourcc::kMjpg;
    case V4L2_PIX_FMT_NV12:
      return fourcc::kNv12;
    case V4L2_PIX_FMT_NV21:
      return fourcc::kNv21;
    case V4L2_PIX_FMT_UYVY:
      return fourcc::kUyvy;
    case V4L2_PIX_FMT_GREY:
      return fourcc::kGrey;
    case V4L2_PIX_FMT_BGR24:
      return kRgbCapabilityCode;
    default:
      return pixelFormat;
  }
}

std::uint32_t streamCode(std::uint32_t pixelFormat) {
  return pixelFormat == V4L2_PIX_FMT_BGR24 ? fourcc::kRgb : capabilityCode(pixelFormat);
}

FrameLayout frameLayoutOf(const CaptureFormat& format) {
  return {streamCode(format.pixelFormat), format.width, format.height, format.bytesPerLine,
          format.pixelFormat == V4L2_PIX_FMT_BGR24};
}

FormatTable readFormatTable(V4l2Io& io, int fd, std::uint32_t bufferType) {
  FormatTable table;
  CaptureFormat current;
  const bool haveCurrent = readCaptureFormat(io, fd, bufferType, current) == 0;
  v4l2_fmtdesc description{};
  description.type = bufferType;
  for (description.index = 0; description.index < kMaxFormats; ++description.index) {
    if (ioctlRetry(io, fd, VIDIOC_ENUM_FMT, &description) < 0) break;
    const std::uint32_t pixelFormat = description.pixelformat;
    if (bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE &&
        !inOnePlane(io, fd, pixelFormat, current))
      continue;
    // A driver that enumerates no sizes still streams its current one.
    if (!addFrameSizes(io, fd, pixelFormat, table) && haveCurrent &&
        current.pixelFormat == pixelFormat)
      addSize(io, fd, table, pixelFormat, current.width, current.height);
  }
  sortFormats(table.formats);
  return table;
}

}  // namespace ravdel
