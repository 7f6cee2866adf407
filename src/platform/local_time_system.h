#pragma once

#include <cstdint>

#include "platform/local_time.h"

// What each system brings to local_time.cpp (not for use above this folder).
namespace ravdel {

// The local calendar time of a whole second since 1970-01-01 00:00 UTC; millisecond 0.
LocalTime localTimeAtSecond(std::int64_t secondsSinceEpoch);

}  // namespace ravdel
