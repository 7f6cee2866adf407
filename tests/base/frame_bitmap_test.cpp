#include "base/frame_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace ravdel {
namespace {

FrameBitmap filled(std::uint8_t value) {
  FrameBitmap b(4, 3);
  b.fill(value, value, value);
  return b;
}

// A copy shares the pixels until one side writes; whichever side writes, the other keeps its
// picture.
TEST(FrameBitmapTest, CopiesStayIndependentWhicheverSideWrites) {
  const struct {
    const char* name;
    bool writeCopy;
  } cases[] = {{"the copy writes", true}, {"the original writes", false}};
  for (const auto& c : cases) {
    FrameBitmap original = filled(10);
    FrameBitmap copy = original;
    EXPECT_TRUE(copy.sharesPixelsWith(original)) << c.name;
    FrameBitmap& writer = c.writeCopy ? copy : original;
    const FrameBitmap& reader = c.writeCopy ? original : copy;
    writer.row(1)[0] = 99;
    EXPECT_FALSE(copy.sharesPixelsWith(original)) << c.name;
    EXPECT_EQ(writer.row(1)[0], 99) << c.name;
    EXPECT_EQ(reader.row(1)[0], 10) << c.name;
    EXPECT_EQ(reader.row(2)[11], 10) << c.name;
  }
}

TEST(FrameBitmapTest, ResizingASharedPictureLeavesTheOtherHolderAlone) {
  FrameBitmap original = filled(7);
  FrameBitmap copy = original;
  copy.resize(2, 2);
  EXPECT_EQ(original.width(), 4);
  EXPECT_EQ(original.byteCount(), 36u);
  EXPECT_EQ(original.row(2)[11], 7);
  EXPECT_EQ(copy.byteCount(), 12u);
}

TEST(FrameBitmapTest, RowMaximaTravelWithCopiesAndAreForgottenOnAnyWrite) {
  FrameBitmap b = filled(5);
  const std::vector<std::uint8_t> maxima{5, 5, 5};
  b.setRowChannelMax(maxima);
  ASSERT_EQ(b.rowChannelMax().size(), 3u);
  const FrameBitmap copy = b;
  EXPECT_EQ(copy.rowChannelMax().size(), 3u);

  const struct {
    const char* name;
    void (*write)(FrameBitmap&);
  } writes[] = {
      {"row", [](FrameBitmap& f) { f.row(0)[0] = 200; }},
      {"data", [](FrameBitmap& f) { f.data()[3] = 200; }},
      {"fill", [](FrameBitmap& f) { f.fill(1, 2, 3); }},
      {"resize", [](FrameBitmap& f) { f.resize(4, 3); }},
  };
  for (const auto& w : writes) {
    FrameBitmap target = copy;
    w.write(target);
    EXPECT_TRUE(target.rowChannelMax().empty()) << w.name;
    EXPECT_EQ(copy.rowChannelMax().size(), 3u) << w.name << " changed the other holder";
  }
  FrameBitmap wrongCount = filled(5);
  wrongCount.setRowChannelMax(std::vector<std::uint8_t>{5, 5});
  EXPECT_TRUE(wrongCount.rowChannelMax().empty());
}

}  // namespace
}  // namespace ravdel
