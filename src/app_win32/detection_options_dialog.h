#pragma once

#include <windows.h>

#include <optional>

#include "monitor/settings.h"

namespace ravdel {

// The modal "Detection options" dialog, opened from the tray menu: the three switches and the
// two levels, within the settings file's own ranges, and when `monitoring` a note that they
// take effect at the next Run. A dialog of the system's dialog manager, so Enter is OK and
// Escape Cancel. The options as OK leaves them, nothing on Cancel; the window saves and applies
// them. Main thread.
std::optional<DetectionSettings> editDetectionOptions(HWND owner, const DetectionSettings& settings,
                                                      bool monitoring);

}  // namespace ravdel
