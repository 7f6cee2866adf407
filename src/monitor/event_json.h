#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/event_sink.h"
#include "platform/local_time.h"

namespace ravdel {

// "2026-12-08T09:26:53.123+01:00": ISO 8601, local time to the millisecond with its UTC offset.
std::string isoLocalTime(const LocalTime& t);

// The event log's line for one event, without its line feed. The keys come in a fixed order;
// later versions may add keys but never rename one.
std::string eventJsonLine(const EventReport& report);

}  // namespace ravdel
