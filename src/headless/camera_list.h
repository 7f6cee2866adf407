#pragma once

#include <string>

#include "capture/capture_device.h"

namespace ravdel {

// What --list prints: each camera's position and name, then its format table with the entry
// numbers --format takes. Each camera is opened briefly to read its table; one that cannot
// be opened says so. Empty when there is no camera. Main thread.
//
//   #1  Ravdel simulated camera
//       0  160*120  (YUY2)
std::string cameraListText(CaptureBackend& cameras);

}  // namespace ravdel
