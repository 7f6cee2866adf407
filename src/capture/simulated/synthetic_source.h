#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/simulated/sample_source.h"

namespace ravdel {

// A small deterministic generator (SplitMix64): the same seed gives the same frames on every
// platform, which std::mt19937 with the standard distributions does not promise.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  double uniform();  // [0, 1)
  std::uint32_t below(std::uint32_t bound);

 private:
  std::uint64_t state_;
};

// Synthetic camera frames: a few noise frames made once per stream format, then shown in turn
// with hits stamped in and taken out again after the frame, so a frame costs no more than
// its hits. Hits are bright spots in the luma (every channel for RGB).
class SyntheticSource final : public SampleSource {
 public:
  struct Settings {
    double hitsPerFrame = 0.0;  // mean; at most kMaxHitsPerFrame are drawn
    std::uint8_t brightness = 230;
    std::uint8_t noise = 6;
    std::uint64_t seed = 1;
    bool uncovered = false;
  };
  static constexpr std::size_t kNoiseFrames = 4;
  static constexpr int kMaxHitsPerFrame = 64;

  explicit SyntheticSource(const Settings& settings);

  void start(const StreamFormat& format) override;
  bool next(std::span<const std::uint8_t>& sample) override;

 private:
  // LumaPlane: a W x H Y plane, then the chroma bytes if any (I420, YV12, NV12, NV21, GREY).
  enum class Layout { Rgb, PackedYuyv, PackedUyvy, LumaPlane };

  // Packed layouts: which of a pixel's two bytes is its luma.
  std::size_t lumaByte() const { return layout_ == Layout::PackedUyvy ? 1 : 0; }
  void fillNoiseFrame(std::vector<std::uint8_t>& frame, std::uint64_t seed) const;
  int drawHitCount();
  void stampHit(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y);
  // Raises the picture's pixel (x, y) to at least `value`, remembering the old bytes.
  void raisePixel(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y,
                  std::uint8_t value);
  void restoreStamped();

  const Settings settings_;
  SplitMix64 hitRandom_;
  StreamFormat format_;
  Layout layout_ = Layout::PackedYuyv;
  std::vector<std::vector<std::uint8_t>> noiseFrames_;
  std::size_t shown_ = 0;  // the noise frame handed out last
  struct SavedByte {
    std::size_t offset;
    std::uint8_t value;
  };
  std::vector<SavedByte> stamped_;  // bytes of noiseFrames_[shown_] under the last hits
};

}  // namespace ravdel
