#include <cstdlib>

#include "capture/device_catalog.h"
#include "capture/simulated/simulated_camera.h"
#if defined(__linux__)
#include "capture/v4l2/v4l2_backend.h"
#endif

namespace ravdel {

std::unique_ptr<DeviceCatalog> makeSystemCatalog(std::string& warning) {
  warning.clear();
  auto catalog = std::make_unique<DeviceCatalog>();
#if defined(__linux__)
  catalog->add(std::make_unique<V4l2Backend>());
#endif
  const char* description = std::getenv("RAVDEL_SIMULATED_CAMERA");
  if (description != nullptr && *description != '\0') {
    std::string error;
    if (auto simulated = SimulatedBackend::fromDescription(description, error)) {
      catalog->add(std::move(simulated));
    } else {
      warning = "RAVDEL_SIMULATED_CAMERA: " + error;
    }
  }
  return catalog;
}

}  // namespace ravdel
