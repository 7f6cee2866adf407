#include <windows.h>
// after windows.h
#include <mmsystem.h>

#include "platform/tick_count.h"

namespace ravdel {

std::uint32_t tickMilliseconds() {
  return static_cast<std::uint32_t>(::timeGetTime());
}

}  // namespace ravdel
