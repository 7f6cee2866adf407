#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ravdel {

// A hit known to be in a run (a simulated camera's truth file): its frame and the pixels it
// lit, ends included; row 0 on top.
struct TruthHit {
  std::int64_t frame = 0;
  std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// An event as the event log has it: the frame number since Run and the peak's place.
struct ScoredEvent {
  std::int64_t frame = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// How far an event may be from a hit and still be that hit. Frame numbers of the camera and
// of the monitor drift apart by the frames dropped on the way; the peak of a track may lie
// anywhere along it, so the place is checked against the hit's box.
struct MatchTolerance {
  std::int64_t frames = 5;
  std::int32_t pixels = 3;
};

struct RunScore {
  std::int64_t hits = 0;
  std::int64_t events = 0;
  std::int64_t found = 0;  // hits matched by an event
  std::int64_t missed = 0;
  std::int64_t falseEvents = 0;        // events that match no hit
  std::optional<double> precision;     // found / events; none without events
  std::optional<double> recall;        // found / hits; none without hits
  std::optional<double> falsePerHour;  // none without live time
};

// Matches events to hits one to one. Events are taken in frame order; each takes, of the
// hits not yet taken whose frame is within the tolerance and whose box widened by the
// tolerance holds the event's peak, the one nearest in frame (the earlier one on a tie).
RunScore scoreRun(std::vector<TruthHit> hits, std::vector<ScoredEvent> events,
                  const MatchTolerance& tolerance, double liveSeconds);

}  // namespace ravdel
