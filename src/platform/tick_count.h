#pragma once

#include <cstdint>

namespace ravdel {

// The system's millisecond tick, 32 bits, wrapping after about 49.7 days (take differences as
// unsigned, or as signed 32-bit): timeGetTime on Windows, a steady clock elsewhere. Any thread.
std::uint32_t tickMilliseconds();

}  // namespace ravdel
