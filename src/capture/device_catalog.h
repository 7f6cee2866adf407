#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"

namespace ravdel {

// Several backends seen as one list of cameras, in the order the backends were added (the
// real cameras first, then the simulated one). Positions count across the whole list.
class DeviceCatalog final : public CaptureBackend {
 public:
  void add(std::unique_ptr<CaptureBackend> backend);
  bool empty() const { return backends_.empty(); }

  HResult ListVideoDevices(std::vector<std::string>& list) override;
  std::unique_ptr<CaptureDevice> CreateDevice() override;
  HResult ListDevicePaths(std::vector<std::string>& paths) override;

  // Which backend holds the camera at 1-based `position`, and its position there.
  // nullptr when there is none.
  CaptureBackend* locate(std::int32_t position, std::int32_t& localPosition);

 private:
  using Lister = HResult (CaptureBackend::*)(std::vector<std::string>&);
  // Every backend's list, one after the other.
  HResult listAll(Lister lister, std::vector<std::string>& list);

  std::vector<std::unique_ptr<CaptureBackend>> backends_;
};

}  // namespace ravdel
