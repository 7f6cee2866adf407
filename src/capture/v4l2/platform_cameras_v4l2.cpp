#include <memory>

#include "capture/platform_cameras.h"
#include "capture/v4l2/v4l2_backend.h"

namespace ravdel {

void addPlatformCameras(DeviceCatalog& catalog) {
  catalog.add(std::make_unique<V4l2Backend>());
}

}  // namespace ravdel
