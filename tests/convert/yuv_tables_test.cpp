#include "convert/yuv_tables.h"

#include <gtest/gtest.h>

#include <array>

namespace ravdel {
namespace {

struct TableCase {
  const char* name;
  const std::array<std::int32_t, 256>& (*table)(const YuvTables&);
  std::array<std::int32_t, 4> at0_16_128_255;
};

TEST(YuvTablesTest, EntriesAtTheReferencePoints) {
  const TableCase cases[] = {{"Y", [](const YuvTables& t) -> const auto& {return t.y;
}
, {
  0, 4769, 38154, 76011
}
}  // namespace
, {"UG", [](const YuvTables& t) -> const auto& {return t.ug;
}  // namespace ravdel
, {
  0, -1605, -12837, -25574
}
}
, {"UB", [](const YuvTables& t) -> const auto& {return t.ub;
}
, {
  -70870, -62607, -4769, 60815
}
}
, {"VR", [](const YuvTables& t) -> const auto& {return t.vr;
}
, {
  -57068, -50530, -4769, 47121
}
}
, {"VG", [](const YuvTables& t) -> const auto& {return t.vg;
}
, {
  34707, 31378, 8068, -18363
}
}
,
}
;
const std::size_t points[] = {0, 16, 128, 255};
for (const TableCase& c : cases) {
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(c.table(yuvTables())[points[i]], c.at0_16_128_255[i])
        << c.name << "[" << points[i] << "]";
  }
}
}

// Exact halves go to the even neighbour; rounding them away from zero gives 74521 and 13209.
TEST(YuvTablesTest, ExactHalvesRoundToEven) {
  const YuvTables& t = yuvTables();
  EXPECT_EQ(t.y[250], 74520);
  EXPECT_EQ(t.ub[193], 28798);
  EXPECT_EQ(t.vr[172], 13208);
}

TEST(YuvTablesTest, ClampTruncatesTowardZeroThenClamps) {
  const YuvTables& t = yuvTables();
  EXPECT_EQ(t.clampChannel(-248), 0);  // never a wrapped value
  EXPECT_EQ(t.clampChannel(-70870), 0);
  EXPECT_EQ(t.clampChannel(255), 0);
  EXPECT_EQ(t.clampChannel(256), 1);
  EXPECT_EQ(t.clampChannel(65535), 255);
  EXPECT_EQ(t.clampChannel(65536), 255);
  EXPECT_EQ(t.clampChannel(136826), 255);
}

TEST(YuvTablesTest, PixelRuleExamples) {
  struct Case {
    std::uint8_t y, u, v;
    std::array<std::uint8_t, 3> bgr;
  };
  const Case cases[] = {
      {16, 128, 128, {0, 0, 0}},        {128, 128, 128, {130, 130, 130}},
      {235, 128, 128, {255, 255, 255}}, {81, 90, 240, {0, 0, 254}},
      {0, 0, 0, {0, 135, 0}},           {200, 100, 150, {157, 207, 249}},
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, 3> out{};
    yuvToBgr(yuvTables(), c.y, c.u, c.v, out.data());
    EXPECT_EQ(out, c.bgr) << "Y=" << int{c.y} << " U=" << int{c.u} << " V=" << int{c.v};
  }
}

}  // namespace
}  // namespace ravdel
