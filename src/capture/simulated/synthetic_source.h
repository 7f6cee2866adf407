#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/simulated/hit_truth.h"
#include "capture/simulated/sample_source.h"
#include "capture/simulated/shower_schedule.h"
#include "capture/simulated/simulated_description.h"
#include "platform/append_file.h"

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
// its hits. Hits are bright spots or tracks in the luma (every channel for RGB). The sensor
// model's hot pixels are part of the noise frames; warm pixels and noisy lines are stamped
// like hits; a light leak is added to a copy of the frame while it lasts. Every fault draws
// from a generator of its own, so a description without faults gives the bytes it always gave.
class SyntheticSource final : public SampleSource {
 public:
  struct Settings {
    double hitsPerFrame = 0.0;  // mean; at most kMaxHitsPerFrame are drawn
    std::uint8_t brightness = 230;
    std::uint8_t noise = 6;
    std::uint64_t seed = 1;
    bool uncovered = false;
    SensorModel sensor;
    ShowerModel showers;
    double framesPerSecond = kUnpacedHitFps;  // the stream's clock, for the leak and the truth
  };
  static constexpr std::size_t kNoiseFrames = 4;
  static constexpr int kMaxHitsPerFrame = 64;

  explicit SyntheticSource(const Settings& settings);

  // Main thread, before the first start: from then on every hit goes to `path` as a line
  // (hit_truth.h). False with the system's reason in `error` when it cannot be opened.
  bool openTruth(const std::string& path, std::string& error);

  void start(const StreamFormat& format) override;
  // False, ending the stream, when a hit could not be written to the truth file: a run
  // scored against a truth file with hits missing would be scored wrongly.
  bool next(std::span<const std::uint8_t>& sample, const FrameMoment& moment) override;

  // The hits of the frame handed out last.
  const std::vector<InjectedHit>& lastHits() const { return lastHits_; }

 private:
  struct Defect {
    std::int32_t x;
    std::int32_t y;
    std::uint8_t level;
  };

  // LumaPlane: a W x H Y plane, then the chroma bytes if any (I420, YV12, NV12, NV21, GREY).
  enum class Layout { Rgb, PackedYuyv, PackedUyvy, LumaPlane };

  // Packed layouts: which of a pixel's two bytes is its luma.
  std::size_t lumaByte() const { return layout_ == Layout::PackedUyvy ? 1 : 0; }
  void fillNoiseFrame(std::vector<std::uint8_t>& frame, std::uint64_t seed) const;
  int drawHitCount();
  void placeDefects();
  void stampSensor(std::vector<std::uint8_t>& frame);
  void stampLine(std::vector<std::uint8_t>& frame, bool row, std::int32_t at);
  InjectedHit stampHit(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y);
  InjectedHit newHit(std::int32_t x, std::int32_t y) const;
  InjectedHit stampSpot(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y);
  // The showers whose instants fall into this frame's exposure, as full spots.
  void stampShowers(std::vector<std::uint8_t>& frame, const FrameMoment& moment);
  void stampTrack(std::vector<std::uint8_t>& frame, InjectedHit& hit);
  HitShape drawShape();
  // The first byte of the picture's pixel (x, y) in the sample, and how many bytes carry
  // its brightness (3 for RGB, the luma byte otherwise).
  std::size_t pixelOffset(std::int32_t x, std::int32_t y) const;
  std::size_t brightnessBytes() const { return layout_ == Layout::Rgb ? 3 : 1; }
  // Raises the picture's pixel (x, y) to at least `value`, remembering the old bytes.
  void raisePixel(std::vector<std::uint8_t>& frame, std::int32_t x, std::int32_t y,
                  std::uint8_t value);
  void restoreStamped();
  // The leak's luma at the bright edge for this frame; 0 outside the leak.
  double leakHeight() const;
  // `frame` with the leak's light added, in leakFrame_.
  const std::vector<std::uint8_t>& addLeak(const std::vector<std::uint8_t>& frame, double height);
  bool recordTruth();

  const Settings settings_;
  const ShowerSchedule showers_;
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

  SplitMix64 sensorRandom_;   // warm pixels and noisy lines, frame by frame
  std::vector<Defect> warm_;  // placed per stream format
  std::vector<std::uint8_t> leakFrame_;
  std::uint64_t frameNumber_ = 0;  // frames handed out since this source was made
  std::vector<InjectedHit> lastHits_;
  AppendFile truth_;  // opened on the main thread, then written by whoever streams
};

// The synthetic settings a description gives.
SyntheticSource::Settings syntheticSettings(const SimulatedDescription& description);

}  // namespace ravdel
