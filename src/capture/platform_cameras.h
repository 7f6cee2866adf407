#pragma once

#include "capture/device_catalog.h"

namespace ravdel {

// Adds the camera backend of the platform this program was built for; each platform's
// backend folder brings its own definition.
void addPlatformCameras(DeviceCatalog& catalog);

}  // namespace ravdel
