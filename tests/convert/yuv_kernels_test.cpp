#include "convert/yuv_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/cpu_features.h"
#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

using Table = std::array<std::int32_t, 256>;

TEST(YuvExactTermsTest, ReproduceEveryTableEntryWithoutOverflow) {
  const YuvTables& t = yuvTables();
  const struct {
    const char* name;
    ExactTableTerm term;
    const Table& table;
  } cases[] = {
      {"Y", kTermY, t.y},    {"UG", kTermUG, t.ug}, {"UB", kTermUB, t.ub},
      {"VR", kTermVR, t.vr}, {"VG", kTermVG, t.vg},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 256; ++i) {
      const std::int64_t wide = std::int64_t{c.term.mul} * i + c.term.add;
      ASSERT_LT(wide, std::int64_t{1} << 31) << c.name << " " << i;
      ASSERT_GE(wide, -(std::int64_t{1} << 31)) << c.name << " " << i;
      ASSERT_EQ(c.term.entry(i), c.table[static_cast<std::size_t>(i)]) << c.name << "[" << i << "]";
    }
  }
}

TEST(YuvKernelDispatchTest, PortableFirstThenEachSupportedSetBestLast) {
  std::vector<std::string> expected{"portable"};
#if defined(__x86_64__)
  if (cpuFeatures().avx2) expected.emplace_back("avx2");
#endif
  std::vector<std::string> names;
  for (int i = 0; i < availableYuvKernelCount(); ++i)
    names.emplace_back(availableYuvKernels(i).name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(&availableYuvKernels(0), &portableYuvKernels());
  EXPECT_EQ(&bestYuvKernels(), &availableYuvKernels(availableYuvKernelCount() - 1));
}

// Compares a converted row with the reference rule; reports the first wrong pixel.
void expectReferenceRow(const std::uint8_t* bgr, const std::uint8_t* ys, const std::uint8_t* us,
                        const std::uint8_t* vs, std::int32_t pairs, const char* what) {
  const YuvTables& t = yuvTables();
  for (std::int32_t k = 0; k < pairs; ++k) {
    for (int half = 0; half < 2; ++half) {
      const std::int32_t x = 2 * k + half;
      std::array<std::uint8_t, 3> want{};
      const std::uint8_t y = ys[x];
      yuvToBgr(t, y, us[k], vs[k], want.data());
      if (std::memcmp(want.data(), bgr + 3 * x, 3) != 0) {
        ADD_FAILURE() << what << ": pixel " << x << " Y=" << int{y} << " U=" << int{us[k]}
                      << " V=" << int{vs[k]} << " got " << int{bgr[3 * x]} << ","
                      << int{bgr[3 * x + 1]} << "," << int{bgr[3 * x + 2]} << " want "
                      << int{want[0]} << "," << int{want[1]} << "," << int{want[2]};
        return;
      }
    }
  }
}

// All 2^24 (Y, U, V) through every vector kernel set, in both layouts: one row per U holding
// every V with all 256 Y values. The reference row is the pixel rule itself.
TEST(YuvVectorKernelsTest, EveryYuvTripleMatchesTheReferenceRule) {
  if (availableYuvKernelCount() == 1) GTEST_SKIP() << "no vector kernels on this processor";
  constexpr std::int32_t kPairs = 256 * 128;
  constexpr auto kN = static_cast<std::size_t>(kPairs);
  std::vector<std::uint8_t> ys(2 * kN), us(kN), vs(kN), packed(4 * kN);
  std::vector<std::uint8_t> want(6 * kN), got(6 * kN);
  for (std::size_t k = 0; k < kN; ++k) {
    ys[2 * k] = static_cast<std::uint8_t>(2 * k);
    ys[2 * k + 1] = static_cast<std::uint8_t>(2 * k + 1);
    vs[k] = static_cast<std::uint8_t>(k / 128);
  }
  const YuvTables& t = yuvTables();
  for (int u = 0; u < 256; ++u) {
    std::fill(us.begin(), us.end(), static_cast<std::uint8_t>(u));
    for (std::size_t k = 0; k < kN; ++k) {
      packed[4 * k] = ys[2 * k];
      packed[4 * k + 1] = us[k];
      packed[4 * k + 2] = ys[2 * k + 1];
      packed[4 * k + 3] = vs[k];
      yuvToBgr(t, ys[2 * k], us[k], vs[k], &want[6 * k]);
      yuvToBgr(t, ys[2 * k + 1], us[k], vs[k], &want[6 * k + 3]);
    }
    for (int i = 1; i < availableYuvKernelCount(); ++i) {
      const YuvKernels& kernels = availableYuvKernels(i);
      kernels.packedRow(t, packed.data(), got.data(), kPairs);
      if (got != want) {
        expectReferenceRow(got.data(), ys.data(), us.data(), vs.data(), kPairs, kernels.name);
        return;
      }
      kernels.planarRow(t, ys.data(), us.data(), vs.data(), got.data(), kPairs);
      if (got != want) {
        expectReferenceRow(got.data(), ys.data(), us.data(), vs.data(), kPairs, kernels.name);
        return;
      }
    }
  }
}

// Runs every test for each kernel set this processor can run.
class YuvKernelsTest : public ::testing::TestWithParam<int> {
 protected:
  const YuvKernels& kernels() const { return availableYuvKernels(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Available, YuvKernelsTest, ::testing::Range(0, availableYuvKernelCount()),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return std::string(availableYuvKernels(param.param).name);
                         });

// Every row length around the vector widths, each input ending exactly where its allocation
// does (AddressSanitizer catches a read past it); a guard byte after the output catches a
// write past the row even without it.
TEST_P(YuvKernelsTest, AnyPairCountStaysInsideItsRows) {
  std::mt19937 rng(7);
  const auto randomBuffer = [&](std::size_t n) {
    auto buffer = std::make_unique<std::uint8_t[]>(n);
    for (std::size_t i = 0; i < n; ++i)
      buffer[i] = static_cast<std::uint8_t>(rng());
    return buffer;
  };
  constexpr std::uint8_t kGuard = 0xA5;
  for (std::int32_t pairs = 0; pairs <= 72; ++pairs) {
    const auto n = static_cast<std::size_t>(pairs);
    const auto packed = randomBuffer(4 * n);
    const auto ys = randomBuffer(2 * n);
    const auto us = randomBuffer(n);
    const auto vs = randomBuffer(n);
    for (std::size_t k = 0; k < n; ++k) {  // the packed row carries the planar row's samples
      packed[4 * k] = ys[2 * k];
      packed[4 * k + 1] = us[k];
      packed[4 * k + 2] = ys[2 * k + 1];
      packed[4 * k + 3] = vs[k];
    }
    for (const bool planar : {false, true}) {
      const auto out = std::make_unique<std::uint8_t[]>(6 * n + 1);
      out[6 * n] = kGuard;
      if (planar) {
        kernels().planarRow(yuvTables(), ys.get(), us.get(), vs.get(), out.get(), pairs);
      } else {
        kernels().packedRow(yuvTables(), packed.get(), out.get(), pairs);
      }
      const std::string what =
          std::string(planar ? "planar" : "packed") + ", " + std::to_string(pairs) + " pairs";
      expectReferenceRow(out.get(), ys.get(), us.get(), vs.get(), pairs, what.c_str());
      EXPECT_EQ(out[6 * n], kGuard) << what;
    }
  }
}

}  // namespace
}  // namespace ravdel
