#include "capture/frame_packer.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/fourcc.h"

namespace ravdel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t P = 0xEE;  // a driver's row padding
constexpr std::uint8_t G = 128;   // the packed layout's gap after an odd-sized chroma plane

Bytes asVector(std::span<const std::uint8_t> view) {
  return {view.begin(), view.end()};
}

// Each driver frame as real drivers lay it out, and the layout the converter takes. `needed`
// is the least a frame must hold to be packed: its last row ends there, padding or not.
TEST(FramePackerTest, PacksEachLayoutAndPassesShortFramesAsTheyAre) {
  const struct {
    const char* name;
    FrameLayout layout;
    Bytes driver, packed;
    std::size_t needed;
  } cases[] = {
      {"YUYV padded",
       {fourcc::kYuyv, 2, 2, 6},
       {1, 2, 3, 4, P, P, 5, 6, 7, 8, P, P},
       {1, 2, 3, 4, 5, 6, 7, 8},
       10},
      {"UYVY unpadded, bytes beyond the frame left off",
       {fourcc::kUyvy, 2, 2, 4},
       {1, 2, 3, 4, 5, 6, 7, 8, P, P},
       {1, 2, 3, 4, 5, 6, 7, 8},
       8},
      {"GREY padded", {fourcc::kGrey, 3, 2, 4}, {1, 2, 3, P, 4, 5, 6, P}, {1, 2, 3, 4, 5, 6}, 7},
      {"I420 chroma at half the padded stride",
       {fourcc::kI420, 4, 2, 6},
       {1, 2, 3, 4, P, P, 5, 6, 7, 8, P, P, 9, 10, P, 11, 12, P},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       17},
      {"YV12 odd height: the driver stores a last chroma row the converter does not read",
       {fourcc::kYv12, 4, 3, 4},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, G, 17, 18, G},
       18},
      {"NV12 chroma pairs at the full stride",
       {fourcc::kNv12, 4, 2, 6},
       {1, 2, 3, 4, P, P, 5, 6, 7, 8, P, P, 9, 10, 11, 12, P, P},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       16},
      {"NV21 with bytesperline left open",
       {fourcc::kNv21, 2, 2, 0},
       {1, 2, 3, 4, 5, 6},
       {1, 2, 3, 4, 5, 6},
       6},
      {"RGB top row first (BGR24), padded, turned bottom row first",
       {fourcc::kRgb, 2, 2, 8, true},
       {1, 2, 3, 4, 5, 6, P, P, 7, 8, 9, 10, 11, 12, P, P},
       {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6},
       14},
      {"RGB bottom row first (a Windows bitmap), rows padded to four bytes: order kept",
       {fourcc::kRgb, 1, 2, 4},
       {1, 2, 3, P, 4, 5, 6, P},
       {1, 2, 3, 4, 5, 6},
       7},
      {"MJPG as delivered",
       {fourcc::kMjpg, 4, 2, 0},
       {0xFF, 0xD8, 1, 2, 3},
       {0xFF, 0xD8, 1, 2, 3},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FramePacker packer;
    ASSERT_TRUE(packer.configure(c.layout));
    const auto first = packer.pack(c.driver.data(), c.driver.size());
    EXPECT_EQ(asVector(first), c.packed);
    if (c.needed == 0) continue;  // any size goes
    const Bytes exact(c.driver.begin(), c.driver.begin() + static_cast<std::ptrdiff_t>(c.needed));
    const auto second = packer.pack(exact.data(), exact.size());
    EXPECT_EQ(asVector(second), c.packed);
    if (first.data() != c.driver.data()) {
      EXPECT_EQ(second.data(), first.data()) << "packed into the same buffer every time";
    }
    // Sized exactly, so that reading past it is caught under AddressSanitizer.
    const Bytes shortFrame(c.driver.begin(),
                           c.driver.begin() + static_cast<std::ptrdiff_t>(c.needed - 1));
    const auto passed = packer.pack(shortFrame.data(), shortFrame.size());
    EXPECT_EQ(passed.data(), shortFrame.data());
    EXPECT_EQ(passed.size(), shortFrame.size());
  }
}

TEST(FramePackerTest, PackedSizesAreTheConvertersAndTooLargeFramesAreRefused) {
  EXPECT_EQ(FramePacker::packedBytes({fourcc::kNv12, 5, 3, 64}), 22u);
  EXPECT_EQ(FramePacker::packedBytes({fourcc::kUyvy, 5, 3, 64}), 30u);
  EXPECT_EQ(FramePacker::packedBytes({fourcc::kGrey, 5, 3, 64}), 15u);
  EXPECT_EQ(FramePacker::packedBytes({fourcc::kMjpg, 5, 3, 0}), 0u);
  EXPECT_EQ(FramePacker::packedBytes({makeFourCC('H', '2', '6', '4'), 5, 3, 0}), 0u);
  FramePacker packer;
  EXPECT_FALSE(packer.configure({fourcc::kYuyv, 65536, 32768, 0}));
  EXPECT_TRUE(packer.configure({fourcc::kMjpg, 65536, 32768, 0}));
}

}  // namespace
}  // namespace ravdel
