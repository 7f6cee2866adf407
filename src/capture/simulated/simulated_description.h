#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/fourcc.h"

namespace ravdel {

// A format and size of the simulated camera; fourcc is the stream code (0 for RGB).
struct SimulatedFormat {
  std::uint32_t fourcc = fourcc::kYuy2;
  std::int32_t width = 640;
  std::int32_t height = 480;
  friend bool operator==(const SimulatedFormat&, const SimulatedFormat&) = default;
};

// A sensor's faults and the kinds of hit it sees, for synthetic frames. Levels are luma (RGB:
// channel values); times are seconds of the stream's own clock (frames / fps).
struct SensorModel {
  std::uint32_t hotPixels = 0;   // fixed places, bright in every frame
  std::uint32_t warmPixels = 0;  // fixed places, bright in a share of frames
  double warmShare = 0.1;
  std::int32_t noisyRow = -1;  // -1: none
  std::int32_t noisyColumn = -1;
  std::uint8_t lineNoise = 160;  // the noisy line's pixels spread over this much above dark
  double leakAt = 0.0;
  double leakFor = 0.0;          // 0: no light leak
  std::uint8_t leakLevel = 160;  // added at the leak's height, at its bright (left) edge
  double trackShare = 0.0;       // of the hits, short bright tracks
  double longTrackShare = 0.0;   // of the hits, long faint tracks
};

// Air showers that several simulated cameras see at once: they fall at UTC instants drawn from
// the shared seed alone, so every camera on the machine with the same seed has the same
// showers, and each camera sees a given one by a draw of its own.
struct ShowerModel {
  double perSecond = 0.0;  // mean showers per second; 0: none
  std::uint64_t seed = 1;
  double share = 1.0;  // the chance that this camera sees a given shower
};

// The simulated camera as its description text (RAVDEL_SIMULATED_CAMERA) gives it, e.g.
// "synthetic:format=I420,size=320x240,fps=0,hits=5" or "dir:samples,format=YUY2,size=640x480".
struct SimulatedDescription {
  enum class Source { Synthetic, Directory };

  Source source = Source::Synthetic;
  std::string directory;  // Directory: the folder of sample files
  std::string name = "Ravdel simulated camera";
  SimulatedFormat format;  // the format the camera starts in
  bool formatGiven = false;
  bool sizeGiven = false;  // a directory has no default size (Motion-JPEG: its first picture's)
  std::vector<SimulatedFormat> also;  // further table entries
  bool alsoGiven = false;             // otherwise synthetic frames get a few default entries
  double fps = 30.0;                  // 0: as fast as the receiver takes them
  std::uint64_t unplugAfter = 0;      // frames until the camera is gone; 0: never
  std::uint64_t emptyEvery = 0;       // every N-th sample has no bytes; 0: never
  bool once = false;                  // Directory: stop after the last file instead of looping
  // With unplugAfter: how long the camera stays gone for every opening; 0: it is gone only
  // for the opening that saw it.
  std::chrono::milliseconds backAfter{0};

  // Synthetic frames only.
  double hitsPerSecond = 1.0;  // with fps=0 a second counts as 30 frames
  std::uint8_t brightness = 230;
  std::uint8_t noise = 6;  // spread of the dark level
  std::uint64_t seed = 1;
  bool uncovered = false;  // a lit scene instead of a dark sensor
  SensorModel sensor;
  ShowerModel showers;
  std::string truthPath;  // one JSON line per injected hit appended here; empty: none
};

// Frames per "second" for the hit rate when the camera runs unpaced.
inline constexpr double kUnpacedHitFps = 30.0;

// Parses a description. On failure returns false and sets `error` to one line naming the
// offending part; `description` is then unchanged. Checks the syntax and the ranges only: the
// directory is not looked at here.
bool parseSimulatedDescription(const std::string& text, SimulatedDescription& description,
                               std::string& error);

}  // namespace ravdel
