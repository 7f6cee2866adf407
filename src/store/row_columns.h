#pragma once

#include <string_view>

#include "store/database.h"
#include "store/rows.h"

namespace ravdel {

// The columns of the two tables, in the order the readers below take them.
inline constexpr std::string_view kEventColumns =
    "station, run_id, seq, t_us, t_lo_us, t_hi_us, clock_synced, x, y, r, g, b, lim, width, "
    "height, fourcc, camera, frame, live_s, crop, lat, lon, flags, stored_us, delivered";
inline constexpr std::string_view kHeartbeatColumns =
    "station, run_id, hb_seq, from_us, to_us, live_ms, frames_delivered, frames_analysed, "
    "frames_dropped, events, masked_pixels, leak_paused_ms, clock_synced, clock_error_us, "
    "stored_us, delivered";

// A row selected with those columns, in that order.
EventRow readEvent(const Statement& s);
HeartbeatRow readHeartbeat(const Statement& s);

}  // namespace ravdel
