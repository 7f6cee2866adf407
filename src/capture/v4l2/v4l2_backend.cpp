#include "capture/v4l2/v4l2_backend.h"

#include "capture/v4l2/v4l2_device.h"
#include "capture/v4l2/v4l2_query.h"

namespace ravdel {

V4l2Backend::V4l2Backend(std::shared_ptr<V4l2Io> io, std::string directory)
    : io_(std::move(io)), directory_(std::move(directory)) {}

HResult V4l2Backend::ListVideoDevices(std::vector<std::string>& list) {
  return listCaptureNames(*io_, directory_, list);
}

HResult V4l2Backend::ListDevicePaths(std::vector<std::string>& paths) {
  return listCapturePaths(*io_, directory_, paths);
}

std::unique_ptr<CaptureDevice> V4l2Backend::CreateDevice() {
  return std::make_unique<V4l2Device>(io_, directory_);
}

}  // namespace ravdel
