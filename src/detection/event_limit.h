#pragma once

#include <cstdint>

namespace ravdel {

// A channel of a frame's peak pixel strictly above the limit makes the frame an event. New
// users, and every tool not told otherwise, start at this limit.
inline constexpr std::uint8_t kDefaultLimit = 150;

}  // namespace ravdel
