#include "detection/hit_score.h"

#include <algorithm>
#include <cstdlib>

namespace ravdel {
namespace {

bool placeMatches(const TruthHit& hit, const ScoredEvent& event, std::int32_t pixels) {
  return event.x >= hit.x0 - pixels && event.x <= hit.x1 + pixels && event.y >= hit.y0 - pixels &&
         event.y <= hit.y1 + pixels;
}

std::optional<double> ratio(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return std::nullopt;
  return static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

RunScore scoreRun(std::vector<TruthHit> hits, std::vector<ScoredEvent> events,
                  const MatchTolerance& tolerance, double liveSeconds) {
  const auto byFrame = [](const auto& a, const auto& b) { return a.frame < b.frame; };
  std::stable_sort(hits.begin(), hits.end(), byFrame);
  std::stable_sort(events.begin(), events.end(), byFrame);
  std::vector<bool> taken(hits.size(), false);
  RunScore score;
  score.hits = static_cast<std::int64_t>(hits.size());
  score.events = static_cast<std::int64_t>(events.size());
  for (const ScoredEvent& event : events) {
    // Only hits within the frame tolerance can match: start at the first of them.
    auto it = std::lower_bound(hits.begin(), hits.end(), event.frame - tolerance.frames,
                               [](const TruthHit& h, std::int64_t f) { return h.frame < f; });
    std::size_t chosen = hits.size();
    std::int64_t nearest = 0;
    for (; it != hits.end() && it->frame <= event.frame + tolerance.frames; ++it) {
      const auto index = static_cast<std::size_t>(it - hits.begin());
      const std::int64_t distance = std::llabs(it->frame - event.frame);
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
