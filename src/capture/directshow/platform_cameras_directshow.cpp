#include <memory>

#include "capture/directshow/directshow_backend.h"
#include "capture/platform_cameras.h"

namespace ravdel {

void addPlatformCameras(DeviceCatalog& catalog) {
  catalog.add(std::make_unique<DirectShowBackend>());
}

}  // namespace ravdel
