// For a build without a camera backend of its platform: no system camera is listed, and the
// simulated camera (RAVDEL_SIMULATED_CAMERA) is the only source.
#include "capture/platform_cameras.h"

namespace ravdel {

void addPlatformCameras(DeviceCatalog&) {}

}  // namespace ravdel
