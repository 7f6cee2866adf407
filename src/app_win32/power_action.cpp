#include "app_win32/power_action.h"

#include <windows.h>

namespace ravdel {

PowerAction powerAction(std::uintptr_t event, std::uint32_t osMajor) {
  const bool modern = osMajor > 5;
  switch (event) {
    case PBT_APMSUSPEND:
      return PowerAction::suspend;
    case PBT_APMRESUMEAUTOMATIC:
      return modern ? PowerAction::resume : PowerAction::none;
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
      return modern ? PowerAction::none : PowerAction::resume;
    default:
      return PowerAction::none;
  }
}

}  // namespace ravdel
