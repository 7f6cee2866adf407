#pragma once

#include <array>
#include <cstdint>

namespace ravdel {

// Lookup tables of the YUV to BGR conversion. Each entry is a * i + b, computed exactly
// and rounded to the nearest integer with halves to even (BT.601 studio range, scaled by 256).
struct YuvTables {
  std::array<std::int32_t, 256> y;   // luma contribution of a Y byte
  std::array<std::int32_t, 256> ug;  // green contribution of a U byte
  std::array<std::int32_t, 256> ub;  // blue contribution of a U byte
  std::array<std::int32_t, 256> vr;  // red contribution of a V byte
  std::array<std::int32_t, 256> vg;  // green contribution of a V byte
  // Clamps a channel to 0..255, indexed -1023..+1023 (stored with an offset of 1023).
  std::array<std::uint8_t, 2047> clamp;
  // The level of each Y byte with neutral chroma, which all three channels share.
  std::array<std::uint8_t, 256> grey;

  std::uint8_t clampChannel(std::int32_t sum) const {
    // Division truncating toward zero: (s + 255) >> 8 for negative sums.
    const std::int32_t q = sum < 0 ? (sum + 255) >> 8 : sum >> 8;
    return clamp[static_cast<std::size_t>(q + 1023)];
  }
};

// The U or V byte of no colour: with it a Y byte gives grey.
inline constexpr std::uint8_t kNeutralChroma = 128;

// The tables, built on first use (thread-safe) and never rebuilt.
const YuvTables& yuvTables();

// The reference pixel rule: one output pixel (blue, green, red) from a Y, a U and a V byte.
inline void yuvToBgr(const YuvTables& t, std::uint8_t y, std::uint8_t u, std::uint8_t v,
                     std::uint8_t* bgr) {
  const std::int32_t ty = t.y[y];
  bgr[0] = t.clampChannel(ty + t.ub[u]);
  bgr[1] = t.clampChannel(ty + t.ug[u] + t.vg[v]);
  bgr[2] = t.clampChannel(ty + t.vr[v]);
}

}  // namespace ravdel
