#include "detection/hit_score.h"

#include <algorithm>
#include <cstdlib>

namespace ravdel {
namespace {

bool placeMatches(const TruthHit& hit, const ScoredEvent& event, std::int32_t pixels) {
  return event.x >= hit.x0 - pixels && event.x <= hit.x1 + pixels && event.y >= hit.y0 - pixels &&
         event.y <= hit.y1 + pixels;
}

struct Reach {
  std::int64_t at = 0;  // the event's own place
  std::int64_t lo = 0;  // the hits it may be, ends included
  std::int64_t hi = 0;
};

std::optional<double> ratio(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return std::nullopt;
  return static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

RunScore scoreRun(std::vector<TruthHit> hits, std::vector<ScoredEvent> events,
                  const MatchTolerance& tolerance, double liveSeconds) {
  const bool timed =
      std::all_of(hits.begin(), hits.end(), [](const TruthHit& h) { return h.us; }) &&
      std::all_of(events.begin(), events.end(),
                  [](const ScoredEvent& e) { return e.us && e.loUs && e.hiUs; });
  // Where a hit lies and what an event reaches, on the one axis the rule uses.
  const auto position = [&](const TruthHit& h) { return timed ? *h.us : h.frame; };
  const auto reach = [&](const ScoredEvent& e) {
    return timed ? Reach{*e.us, *e.loUs, *e.hiUs}
                 : Reach{e.frame, e.frame - tolerance.frames, e.frame + tolerance.frames};
  };
  std::stable_sort(hits.begin(), hits.end(),
                   [&](const TruthHit& a, const TruthHit& b) { return position(a) < position(b); });
  std::stable_sort(events.begin(), events.end(), [&](const ScoredEvent& a, const ScoredEvent& b) {
    return reach(a).at < reach(b).at;
  });
  std::vector<bool> taken(hits.size(), false);
  RunScore score;
  score.hits = static_cast<std::int64_t>(hits.size());
  score.events = static_cast<std::int64_t>(events.size());
  for (const ScoredEvent& event : events) {
    const Reach r = reach(event);
    // Only hits within the reach can match: start at the first of them.
    auto it =
        std::lower_bound(hits.begin(), hits.end(), r.lo,
                         [&](const TruthHit& h, std::int64_t lo) { return position(h) < lo; });
    std::size_t chosen = hits.size();
    std::int64_t nearest = 0;
    for (; it != hits.end() && position(*it) <= r.hi; ++it) {
      const auto index = static_cast<std::size_t>(it - hits.begin());
      const std::int64_t distance = std::llabs(position(*it) - r.at);
      if (taken[index] || !placeMatches(*it, event, tolerance.pixels)) continue;
      if (chosen == hits.size() || distance < nearest) {
        chosen = index;
        nearest = distance;
      }
    }
    if (chosen == hits.size()) {
      ++score.falseEvents;
      continue;
    }
    taken[chosen] = true;
    ++score.found;
  }
  score.missed = score.hits - score.found;
  score.precision = ratio(score.found, score.events);
  score.recall = ratio(score.found, score.hits);
  if (liveSeconds > 0.0)
    score.falsePerHour = static_cast<double>(score.falseEvents) * 3600.0 / liveSeconds;
  return score;
}

}  // namespace ravdel
