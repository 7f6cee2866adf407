#include <chrono>

#include "platform/tick_count.h"

namespace ravdel {

std::uint32_t tickMilliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace ravdel
