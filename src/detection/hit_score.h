#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ravdel {

// A hit known to be in a run (a simulated camera's truth file): its frame, the pixels it lit,
// ends included (row 0 on top), and when it struck, UTC microseconds.
struct TruthHit {
  std::int64_t frame = 0;
  std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  std::optional<std::int64_t> us = std::nullopt;
};

// An event as the event log has it: the frame number since Run, the peak's place, and the
// moment of its frame with the interval a hit in that frame struck within.
struct ScoredEvent {
  std::int64_t frame = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::optional<std::int64_t> us = std::nullopt, loUs = std::nullopt, hiUs = std::nullopt;
};

// How far an event may be from a hit and still be that hit. The peak of a track may lie
// anywhere along it, so the place is checked against the hit's box. The frame numbers are
// used only for hits and events without moments (files written before they were kept): the
// camera's and the monitor's counts drift apart by the frames dropped on the way, and the
// camera's starts again at every opening.
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

// Matches events to hits one to one. When every hit and every event has its moment, a hit
// is an event's when it struck within the event's interval; otherwise when their frames are
// within the tolerance. Events are taken in that order (time, else frame); each takes, of the
// hits not yet taken that are within its reach and whose box widened by the tolerance holds
// the event's peak, the nearest (the earlier one on a tie).
RunScore scoreRun(std::vector<TruthHit> hits, std::vector<ScoredEvent> events,
                  const MatchTolerance& tolerance, double liveSeconds);

}  // namespace ravdel
