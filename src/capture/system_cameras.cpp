#include "capture/system_cameras.h"

#include <cstdlib>

#include "capture/platform_cameras.h"
#include "capture/simulated/simulated_camera.h"

namespace ravdel {

std::unique_ptr<DeviceCatalog> makeSystemCatalog(std::string& warning) {
  warning.clear();
  auto catalog = std::make_unique<DeviceCatalog>();
  addPlatformCameras(*catalog);
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
