#include "detection/peak_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/cpu_features.h"

namespace ravdel {
namespace {

TEST(PeakKernelDispatchTest, PortableFirstThenEachSupportedSetBestLast) {
  std::vector<std::string> expected{"portable"};
#if defined(__x86_64__)
  if (cpuFeatures().avx2) expected.emplace_back("avx2");
  if (cpuFeatures().avx512) expected.emplace_back("avx512");
#elif defined(__aarch64__)
  if (cpuFeatures().neon) expected.emplace_back("neon");
#endif
  std::vector<std::string> names;
  for (int i = 0; i < availablePeakKernelCount(); ++i)
    names.emplace_back(availablePeakKernels(i).name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(&availablePeakKernels(0), &portablePeakKernels());
  EXPECT_EQ(&bestPeakKernels(), &availablePeakKernels(availablePeakKernelCount() - 1));
}

class PeakKernelsTest : public ::testing::TestWithParam<int> {
 protected:
  std::uint32_t rowMax(const std::uint8_t* row, std::int32_t width) const {
    return availablePeakKernels(GetParam()).rowMaxSumOfSquares(row, width);
  }
};

INSTANTIATE_TEST_SUITE_P(Available, PeakKernelsTest,
                         ::testing::Range(0, availablePeakKernelCount()),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return std::string(availablePeakKernels(param.param).name);
                         });

// Each row sits at the very end of its own allocation, so a read past it is caught by
// AddressSanitizer.
std::unique_ptr<std::uint8_t[]> exactRow(const std::vector<std::uint8_t>& bytes) {
  auto row = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), row.get());
  return row;
}

TEST_P(PeakKernelsTest, MatchesPortableOnRandomRowsOfEveryWidth) {
  std::mt19937 rng(11);
  const struct {
    const char* name;
    int low, high;
  } fills[] = {{"full range", 0, 255}, {"dark noise", 0, 12}, {"bright", 240, 255}};
  std::vector<std::int32_t> widths;
  for (std::int32_t w = 0; w <= 70; ++w)
    widths.push_back(w);
  widths.insert(widths.end(), {95, 96, 97, 640, 1279, 1920, 1921});
  for (const auto& fill : fills) {
    std::uniform_int_distribution<int> value(fill.low, fill.high);
    for (const std::int32_t w : widths) {
      std::vector<std::uint8_t> bytes(3 * static_cast<std::size_t>(w));
      for (auto& b : bytes)
        b = static_cast<std::uint8_t>(value(rng));
      const auto row = exactRow(bytes);
      EXPECT_EQ(rowMax(row.get(), w), portablePeakKernels().rowMaxSumOfSquares(row.get(), w))
          << fill.name << ", width " << w;
    }
  }
}

// One bright pixel on a black row, at every position of rows around the vector widths:
// catches pixels a step skips and channels read from the wrong byte.
TEST_P(PeakKernelsTest, FindsALonePixelAnywhere) {
  const struct {
    std::uint8_t b, g, r;
  } pixels[] = {{255, 255, 255}, {200, 0, 0}, {0, 201, 0}, {0, 0, 202}, {1, 2, 3}};
  for (std::int32_t w = 1; w <= 50; ++w) {
    for (std::int32_t x = 0; x < w; ++x) {
      for (const auto& p : pixels) {
        std::vector<std::uint8_t> bytes(3 * static_cast<std::size_t>(w), 0);
        const auto at = 3 * static_cast<std::size_t>(x);
        bytes[at] = p.b;
        bytes[at + 1] = p.g;
        bytes[at + 2] = p.r;
        const auto row = exactRow(bytes);
        ASSERT_EQ(rowMax(row.get(), w), sumOfSquares(row.get() + at))
            << "width " << w << ", pixel " << x << " = " << int{p.b} << "," << int{p.g} << ","
            << int{p.r};
      }
    }
  }
}

TEST_P(PeakKernelsTest, ExtremeRows) {
  for (const std::int32_t w : {0, 1, 15, 16, 17, 1920}) {
    const auto white = exactRow(std::vector<std::uint8_t>(3 * static_cast<std::size_t>(w), 255));
    EXPECT_EQ(rowMax(white.get(), w), w == 0 ? 0u : 3u * 255u * 255u) << "white, width " << w;
    const auto black = exactRow(std::vector<std::uint8_t>(3 * static_cast<std::size_t>(w), 0));
    EXPECT_EQ(rowMax(black.get(), w), 0u) << "black, width " << w;
  }
}

}  // namespace
}  // namespace ravdel
