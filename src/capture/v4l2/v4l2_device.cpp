#include "capture/v4l2/v4l2_device.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace ravdel {

V4l2Device::V4l2Device(std::shared_ptr<V4l2Io> io, std::string directory)
    : io_(std::move(io)), directory_(std::move(directory)) {}

V4l2Device::~V4l2Device() {
  stream_.reset();
  device_.reset();
}

HResult V4l2Device::listDeviceNames(std::vector<std::string>& names) {
  return listCaptureNames(*io_, directory_, names);
}

HResult V4l2Device::listDevicePaths(std::vector<std::string>& paths) {
  return listCapturePaths(*io_, directory_, paths);
}

HResult V4l2Device::StartVideoAt(std::int32_t position, std::string& foundName) {
  foundName.clear();
  if (device_.valid()) return kEFail;  // one start per object
  const std::vector<V4l2Node> nodes = findCaptureNodes(*io_, directory_);
  if (position < 1 || static_cast<std::size_t>(position) > nodes.size()) return kEFail;
  const V4l2Node& node = nodes[static_cast<std::size_t>(position) - 1];
  foundName = trimDeviceText(node.card);
  label_ = node.path + " (" + foundName + ")";
  busInfo_ = node.busInfo;
  HResult hr = openNode(node);
  if (!failed(hr)) hr = leaveMultiPlaneFormat();
  if (!failed(hr)) hr = startStream();
  if (failed(hr)) {
    device_.reset();
    busInfo_.clear();
    table_ = {};
  }
  return hr;
}

HResult V4l2Device::openNode(const V4l2Node& node) {
  DeviceHandle device(*io_, io_->open(node.path));
  if (!device.valid()) {
    const int error = errno;
    // EBUSY: another program streams from it.
    failure_ = "cannot open " + node.path + ": " + std::strerror(error);
    captureLog(failure_ + " (" + label_ + ")");
    return hresultFromErrno(error);
  }
  device_ = std::move(device);
  bufferType_ = node.bufferType;
  table_ = readFormatTable(*io_, device_.get(), bufferType_);
  return kSOk;
}

// A multi-planar node may be left in a format of several memory planes, which does not stream
// here: the table's first entry (all of one plane) is set instead.
HResult V4l2Device::leaveMultiPlaneFormat() {
  CaptureFormat current;
  if (readCaptureFormat(*io_, device_.get(), bufferType_, current) != 0 || current.planes == 1 ||
      table_.formats.empty())
    return kSOk;  // starting the stream reports what is wrong
  return setFormat(table_.formats.front());
}

HResult V4l2Device::startStream() {
  auto stream = std::make_unique<V4l2Stream>(*io_, device_.get(), bufferType_, label_, slot_);
  const HResult hr = stream->start();
  if (failed(hr)) {
    failure_ = stream->failure();
  } else {
    stream_ = std::move(stream);
  }
  return hr;
}

HResult V4l2Device::GetStreamInfo(std::int32_t& width, std::int32_t& height,
                                  std::uint32_t& fourcc) {
  width = height = 0;
  if (!device_.valid()) return kEFail;
  CaptureFormat format;
  if (const int error = readCaptureFormat(*io_, device_.get(), bufferType_, format))
    return hresultFromErrno(error);
  constexpr std::uint32_t kLargest = std::numeric_limits<std::int32_t>::max();
  if (format.width > kLargest || format.height > kLargest) return kEFail;
  width = static_cast<std::int32_t>(format.width);
  height = static_cast<std::int32_t>(format.height);
  fourcc = streamCode(format.pixelFormat);
  return kSOk;
}

HResult V4l2Device::SetFormatByIndex(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= table_.formats.size()) return kSFalse;
  const VideoFormat entry = table_.formats[static_cast<std::size_t>(index)];
  stream_.reset();
  const HResult set = setFormat(entry);
  const HResult started = startStream();
  return failed(set) ? set : started;
}

// VIDIOC_S_FMT with the entry's own V4L2 pixel format and size, then the highest frame rate
// at what the driver granted: it may have picked another size.
HResult V4l2Device::setFormat(const VideoFormat& entry) {
  const std::uint32_t pixelFormat = table_.pixelFormats[static_cast<std::size_t>(entry.capsIndex)];
  CaptureFormat granted;
  if (const int error = negotiateFormat(*io_, device_.get(), bufferType_, VIDIOC_S_FMT, pixelFormat,
                                        static_cast<std::uint32_t>(entry.width),
                                        static_cast<std::uint32_t>(entry.height), granted)) {
    captureLog(label_ + ": VIDIOC_S_FMT " + formatLine(entry) + ": " + std::strerror(error));
    return hresultFromErrno(error);
  }
  selectFastestRate(granted);
  return kSOk;
}

// Cameras keep the rate last set, often a slow one, and every frame is analysed: the stream
// asks for all the camera offers. A failure leaves the driver's rate and is only logged.
void V4l2Device::selectFastestRate(const CaptureFormat& format) {
  const FrameInterval fastest =
      fastestInterval(*io_, device_.get(), format.pixelFormat, format.width, format.height);
  if (!fastest.known()) return;
  if (const int error = setFrameInterval(*io_, device_.get(), bufferType_, fastest)) {
    captureLog(label_ + ": VIDIOC_S_PARM " + std::to_string(fastest.numerator) + "/" +
               std::to_string(fastest.denominator) + ": " + std::strerror(error));
  }
}

HResult V4l2Device::SetRunning(bool run) {
  if (!run) {
    if (stream_ == nullptr) return kSFalse;
    stream_.reset();
    return kSOk;
  }
  if (!device_.valid()) return kEFail;
  if (running()) return kSFalse;
  stream_.reset();  // one the device ended by itself
  return startStream();
}

}  // namespace ravdel
