#pragma once

#include <memory>
#include <string>

#include "capture/device_catalog.h"

namespace ravdel {

// The cameras of this machine, then the simulated camera when the environment variable
// RAVDEL_SIMULATED_CAMERA describes one. A description that cannot be read leaves the
// simulated camera out and says why in `warning`.
std::unique_ptr<DeviceCatalog> makeSystemCatalog(std::string& warning);

}  // namespace ravdel
