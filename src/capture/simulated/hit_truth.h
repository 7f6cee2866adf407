#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ravdel {

enum class HitShape { Spot, Track, LongTrack };

// "spot", "track", "long-track": the names the truth file uses.
const char* hitShapeName(HitShape shape);

// One hit the synthetic camera put into a frame, as the truth file records it.
struct InjectedHit {
  std::uint64_t frame = 0;  // 1 for the first frame the camera made since it was opened
  double seconds = 0.0;     // the stream's clock: (frame - 1) / fps
  std::int32_t x = 0;       // where it struck: a spot's middle, a track's start; row 0 on top
  std::int32_t y = 0;
  std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the pixels it lit, ends included
  HitShape shape = HitShape::Spot;
  std::uint8_t peak = 0;  // its brightest level: luma, or the channel value for RGB
  // When it struck, UTC microseconds: a shower's instant; otherwise the middle of the frame's
  // exposure on the stream's clock (0: the frame had no time).
  std::int64_t utcUs = 0;
  std::optional<std::uint64_t> shower;  // the shower it belongs to, if any
};

// The truth file's line for one hit, without its line feed:
// {"frame":12,"t_s":0.367,"x":5,"y":7,"shape":"spot","peak":230,"x0":4,"y0":6,"x1":6,"y1":8,
//  "t_us":1796718413123456}, and "shower":N for a shower's hit.
std::string truthJsonLine(const InjectedHit& hit);

}  // namespace ravdel
