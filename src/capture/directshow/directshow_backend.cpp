#include "capture/directshow/directshow_backend.h"

#include "capture/directshow/device_enumeration.h"
#include "capture/directshow/video_sample.h"

namespace ravdel {

DirectShowBackend::DirectShowBackend(HWND ownerWindow) : ownerWindow_(ownerWindow) {}

HResult DirectShowBackend::ListVideoDevices(std::vector<std::string>& list) {
  return dshow::ListVideoDevices(list);
}

HResult DirectShowBackend::ListDevicePaths(std::vector<std::string>& paths) {
  return dshow::ListVideoDevicePaths(paths);
}

// A set-up that failed shows in StartVideo, which then fails: the result is not examined here,
// as frame delivery does not examine it.
std::unique_ptr<CaptureDevice> DirectShowBackend::CreateDevice() {
  HResult setup = S_OK;
  return std::make_unique<TVideoSample>(ownerWindow_, false, 0, setup);
}

}  // namespace ravdel
