#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/v4l2/v4l2_format.h"
#include "capture/v4l2/v4l2_handles.h"
#include "capture/v4l2/v4l2_io.h"
#include "capture/v4l2/v4l2_query.h"
#include "capture/v4l2/v4l2_stream.h"

namespace ravdel {

// One opened V4L2 capture node. Every method runs on the main thread; only the receiver runs,
// on the stream's worker thread. Failures are kEFail (no such device, not opened) or
// hresultFromErrno of the failing call.
class V4l2Device final : public CaptureDevice {
 public:
  V4l2Device(std::shared_ptr<V4l2Io> io, std::string directory);
  V4l2Device(const V4l2Device&) = delete;
  V4l2Device& operator=(const V4l2Device&) = delete;
  // Stops the stream (stop event, join, STREAMOFF, unmap), then closes the node.
  ~V4l2Device() override;

  HResult StartVideoAt(std::int32_t position, std::string& foundName) override;
  HResult GetStreamInfo(std::int32_t& width, std::int32_t& height, std::uint32_t& fourcc) override;
  void SetFrameCallback(FrameReceiver* receiver) override { slot_.install(receiver); }
  const std::vector<VideoFormat>& formats() const override { return table_.formats; }
  // Streams in the size the driver grants, which may not be the entry's. A failing
  // VIDIOC_S_FMT leaves the old format, which then streams again.
  HResult SetFormatByIndex(std::int32_t index) override;
  // Starting again after the device ended the stream by itself tries a fresh stream.
  HResult SetRunning(bool run) override;
  // False once the stream's worker has ended by itself (device gone or failing); a device
  // that merely stalls stays running.
  bool running() const override { return stream_ != nullptr && !stream_->ended(); }
  std::string devicePath() const override { return busInfo_; }
  std::string failure() const override { return failure_; }

 protected:
  HResult listDeviceNames(std::vector<std::string>& names) override;
  HResult listDevicePaths(std::vector<std::string>& paths) override;

 private:
  HResult openNode(const V4l2Node& node);
  HResult leaveMultiPlaneFormat();
  HResult startStream();
  HResult setFormat(const VideoFormat& entry);
  void selectFastestRate(const CaptureFormat& format);

  const std::shared_ptr<V4l2Io> io_;
  const std::string directory_;
  std::string label_;                                       // "/dev/video0 (card)" for the log
  std::string busInfo_;                                     // of the opened node
  std::string failure_;                                     // the last failure, in words
  std::uint32_t bufferType_ = V4L2_BUF_TYPE_VIDEO_CAPTURE;  // the opened node's buffer API
  DeviceHandle device_;
  FormatTable table_;
  ReceiverSlot slot_;
  std::unique_ptr<V4l2Stream> stream_;  // null while stopped; uses device_, slot_ and *io_
};

}  // namespace ravdel
