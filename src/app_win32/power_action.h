#pragma once

#include <cstdint>

namespace ravdel {

enum class PowerAction { none, suspend, resume };

// What a WM_POWERBROADCAST event means for the minute tick. Systems of major version 6 and
// newer announce a wake-up with PBT_APMRESUMEAUTOMATIC; older ones (and an unknown version, 0)
// with PBT_APMRESUMESUSPEND or PBT_APMRESUMECRITICAL. Suspend is the same for both.
PowerAction powerAction(std::uintptr_t event, std::uint32_t osMajor);

}  // namespace ravdel
