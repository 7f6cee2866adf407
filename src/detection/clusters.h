#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/frame_bitmap.h"
#include "detection/event_limit.h"
#include "detection/hot_pixel_mask.h"

namespace ravdel {

// A spot or track of one frame: the pixels 8-connected to a pixel above the limit through
// pixels above the cluster level. A pixel's level is its brightest channel, as the event rule
// reads it.
struct Cluster {
  std::int32_t x = 0;  // its brightest pixel; row 0 is the top row
  std::int32_t y = 0;
  std::int64_t size = 0;  // pixels
  std::int64_t sum = 0;   // of the pixels' levels
  // Extent along the cluster's long axis and its ratio to the extent across it, in pixels
  // (1 for a single pixel or a round spot).
  double length = 0;
  double elongation = 0;
};

struct ClusterSettings {
  std::uint8_t limit = kDefaultLimit;  // a cluster holds a pixel above it
  std::uint8_t level = 60;             // its pixels are above this; at most the limit
  std::size_t most = 64;  // reported per frame; a lit frame would otherwise give thousands
  const HotPixelMask* mask = nullptr;  // masked pixels belong to no cluster; borrowed
};

// The frame's clusters, the one holding (peakX, peakY) first, then in scan order from the top.
std::vector<Cluster> findClusters(const FrameBitmap& frame, const ClusterSettings& settings,
                                  std::int32_t peakX, std::int32_t peakY);

// A JSON array of objects with the keys x, y, size, sum, length, elongation (two decimals),
// as the event log and ravdel-analyse --json write it.
std::string clustersJson(const std::vector<Cluster>& clusters);

}  // namespace ravdel
