#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// The Video4Linux2 cameras: the video capture nodes of a directory (/dev), named by their
// driver's card name, in node number order. Main thread.
class V4l2Backend final : public CaptureBackend {
 public:
  explicit V4l2Backend(std::shared_ptr<V4l2Io> io = linuxV4l2Io(), std::string directory = "/dev");

  HResult ListVideoDevices(std::vector<std::string>& list) override;
  // A V4l2Device sharing this backend's seam; it may outlive the backend.
  std::unique_ptr<CaptureDevice> CreateDevice() override;
  HResult ListDevicePaths(std::vector<std::string>& paths) override;

 private:
  std::shared_ptr<V4l2Io> io_;
  std::string directory_;
};

}  // namespace ravdel
