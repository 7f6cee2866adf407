#include "detection/clusters.h"

#include <gtest/gtest.h>

#include <vector>

namespace ravdel {
namespace {

void light(FrameBitmap& frame, std::int32_t x, std::int32_t y, std::uint8_t level) {
  std::uint8_t* p = frame.row(y) + 3 * static_cast<std::size_t>(x);
  p[1] = level;  // the brightest channel counts, whichever it is
}

// A 3x3 spot, a faint horizontal track lit above the limit at one pixel, a faint pixel that
// no pixel above the limit reaches, and a hot pixel the mask leaves out.
FrameBitmap testFrame() {
  FrameBitmap frame(24, 12);
  frame.fill(10, 10, 10);
  for (std::int32_t y = 2; y <= 4; ++y) {
    for (std::int32_t x = 2; x <= 4; ++x)
      light(frame, x, y, 200);
  }
  light(frame, 3, 3, 240);
  for (std::int32_t x = 10; x <= 17; ++x)
    light(frame, x, 8, 90);
  light(frame, 13, 8, 160);
  light(frame, 20, 1, 120);
  light(frame, 0, 11, 255);
  return frame;
}

TEST(ClustersTest, FindsEveryClusterAboveTheLimitWithItsShape) {
  const FrameBitmap frame = testFrame();
  HotPixelMask mask(24, 12);
  mask.add(0, 11);
  ClusterSettings settings;
  settings.mask = &mask;
  // The track's pixel above the limit is the event's peak here: its cluster comes first.
  const std::vector<Cluster> clusters = findClusters(frame, settings, 13, 8);
  ASSERT_EQ(clusters.size(), 2u);
  const struct {
    std::int32_t x, y;
    std::int64_t size, sum;
    double length, elongation;
  } expected[] = {{13, 8, 8, 7 * 90 + 160, 8, 8}, {3, 3, 9, 8 * 200 + 240, 3, 1}};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(clusters[i].x, expected[i].x);
    EXPECT_EQ(clusters[i].y, expected[i].y);
    EXPECT_EQ(clusters[i].size, expected[i].size);
    EXPECT_EQ(clusters[i].sum, expected[i].sum);
    EXPECT_NEAR(clusters[i].length, expected[i].length, 1e-9);
    EXPECT_NEAR(clusters[i].elongation, expected[i].elongation, 1e-9);
  }
  EXPECT_EQ(clustersJson({clusters[1]}),
            R"([{"x":3,"y":3,"size":9,"sum":1840,"length":3.00,"elongation":1.00}])");

  // Without the mask the hot pixel is a cluster of its own; a level above the limit is the
  // limit; the count is capped.
  settings.mask = nullptr;
  settings.level = 200;
  const std::vector<Cluster> unmasked = findClusters(frame, settings, 3, 3);
  ASSERT_EQ(unmasked.size(), 3u);
  EXPECT_EQ(unmasked[0].size, 9) << "pixels above the limit of 150 only";
  EXPECT_EQ(unmasked[2].size, 1);
  EXPECT_EQ(unmasked[2].y, 11);
  settings.most = 1;
  EXPECT_EQ(findClusters(frame, settings, 3, 3).size(), 1u);
}

}  // namespace
}  // namespace ravdel
