#include "capture/simulated/hit_truth.h"

#include "base/json_text.h"

namespace ravdel {

const char* hitShapeName(HitShape shape) {
  switch (shape) {
    case HitShape::Track:
      return "track";
    case HitShape::LongTrack:
      return "long-track";
    case HitShape::Spot:
      break;
  }
  return "spot";
}

std::string truthJsonLine(const InjectedHit& hit) {
  const auto number = [](std::int64_t v) { return std::to_string(v); };
  std::string s = "{\"frame\":" + std::to_string(hit.frame);
  s += ",\"t_s\":" + jsonFixedNumber(hit.seconds, 3);
  s += ",\"x\":" + number(hit.x) + ",\"y\":" + number(hit.y);
  s += ",\"shape\":\"" + std::string(hitShapeName(hit.shape)) + "\"";
  s += ",\"peak\":" + number(hit.peak);
  s += ",\"x0\":" + number(hit.x0) + ",\"y0\":" + number(hit.y0);
  s += ",\"x1\":" + number(hit.x1) + ",\"y1\":" + number(hit.y1);
  s += ",\"t_us\":" + number(hit.utcUs);
  if (hit.shower) s += ",\"shower\":" + std::to_string(*hit.shower);
  return s + "}";
}

}  // namespace ravdel
