#pragma once

#include <nlohmann/json.hpp>

#include "store/rows.h"

namespace ravdel {

// A heartbeat's fields as the wire carries them (without its station, which the message names
// once): the one spelling of them for the messages and for the export.
nlohmann::json heartbeatJson(const HeartbeatRow& h);

}  // namespace ravdel
