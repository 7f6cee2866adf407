#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/directshow/com_support.h"

namespace ravdel {

// The DirectShow video input devices as a capture backend: each device object is a
// TVideoSample made as frame delivery makes it (forceRgb24 false, SampleCB). Main thread; it keeps
// COM initialised there (a single-threaded apartment, unless the thread chose otherwise) for
// its lifetime.
class DirectShowBackend final : public CaptureBackend {
 public:
  // Graph events of the devices go to `ownerWindow` as 0x8001; null: not announced.
  explicit DirectShowBackend(HWND ownerWindow = nullptr);

  HResult ListVideoDevices(std::vector<std::string>& list) override;
  std::unique_ptr<CaptureDevice> CreateDevice() override;
  HResult ListDevicePaths(std::vector<std::string>& paths) override;

 private:
  const dshow::ComApartment apartment_;
  HWND ownerWindow_;
};

}  // namespace ravdel
