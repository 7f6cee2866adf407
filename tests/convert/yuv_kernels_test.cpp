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
  if (cpuFeatures().avx512) expected.emplace_back("avx512");
#elif defined(__aarch64__)
  if (cpuFeatures().neon) expected.emplace_back("neon");
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

// One row's samples in every layout of the row kernels: the planar rows, and the same
// pixels packed both ways and with interleaved chroma in both orders.
struct RowSamples {
  std::vector<std::uint8_t> ys, us, vs, yuyv, uyvy, uv, vu;

  // Fresh vectors: each block is exactly its row's size, as AddressSanitizer needs below.
  void interleave() {
    const std::size_t n = us.size();
    yuyv = std::vector<std::uint8_t>(4 * n);
    uyvy = std::vector<std::uint8_t>(4 * n);
    uv = std::vector<std::uint8_t>(2 * n);
    vu = std::vector<std::uint8_t>(2 * n);
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint8_t y0 = ys[2 * k], y1 = ys[2 * k + 1], u = us[k], v = vs[k];
      const std::uint8_t yuyvPair[] = {y0, u, y1, v}, uyvyPair[] = {u, y0, v, y1};
      std::copy_n(yuyvPair, 4, &yuyv[4 * k]);
      std::copy_n(uyvyPair, 4, &uyvy[4 * k]);
      uv[2 * k] = vu[2 * k + 1] = u;
      uv[2 * k + 1] = vu[2 * k] = v;
    }
  }
};

// The chroma-carrying row kernels, each reading its own layout of the same pixels; they return
// the row's largest channel.
using RowRun = std::uint8_t (*)(const YuvKernels& k, const RowSamples& s, std::uint8_t* dst,
                                std::int32_t pairs);

std::uint8_t runYuyv(const YuvKernels& k, const RowSamples& s, std::uint8_t* dst,
                     std::int32_t pairs) {
  return k.packedRow(yuvTables(), s.yuyv.data(), dst, pairs);
}
std::uint8_t runUyvy(const YuvKernels& k, const RowSamples& s, std::uint8_t* dst,
                     std::int32_t pairs) {
  return k.uyvyRow(yuvTables(), s.uyvy.data(), dst, pairs);
}
std::uint8_t runPlanar(const YuvKernels& k, const RowSamples& s, std::uint8_t* dst,
                       std::int32_t pairs) {
  return k.planarRow(yuvTables(), s.ys.data(), s.us.data(), s.vs.data(), dst, pairs);
}
std::uint8_t runUv(const YuvKernels& k, const RowSamples& s, std::uint8_t* dst,
                   std::int32_t pairs) {
  return k.semiPlanarRow(yuvTables(), s.ys.data(), s.uv.data(), false, dst, pairs);
}
std::uint8_t runVu(const YuvKernels& k, const RowSamples& s, std::uint8_t* dst,
                   std::int32_t pairs) {
  return k.semiPlanarRow(yuvTables(), s.ys.data(), s.vu.data(), true, dst, pairs);
}

// The largest of `n` channel bytes (0 for none).
std::uint8_t largestByte(const std::uint8_t* bytes, std::size_t n) {
  return n == 0 ? 0 : *std::max_element(bytes, bytes + n);
}

const struct RowLayout {
  const char* name;
  RowRun run;
} kRowLayouts[] = {
    {"YUYV", runYuyv}, {"UYVY", runUyvy}, {"planar", runPlanar}, {"UV", runUv}, {"VU", runVu},
};

// All 2^24 (Y, U, V) through every vector kernel set, in every layout: one row per U holding
// every V with all 256 Y values. The reference row is the pixel rule itself.
TEST(YuvVectorKernelsTest, EveryYuvTripleMatchesTheReferenceRule) {
  if (availableYuvKernelCount() == 1) GTEST_SKIP() << "no vector kernels on this processor";
  constexpr std::int32_t kPairs = 256 * 128;
  constexpr auto kN = static_cast<std::size_t>(kPairs);
  RowSamples s;
  s.ys.resize(2 * kN);
  s.us.resize(kN);
  s.vs.resize(kN);
  std::vector<std::uint8_t> want(6 * kN), got(6 * kN);
  for (std::size_t k = 0; k < kN; ++k) {
    s.ys[2 * k] = static_cast<std::uint8_t>(2 * k);
    s.ys[2 * k + 1] = static_cast<std::uint8_t>(2 * k + 1);
    s.vs[k] = static_cast<std::uint8_t>(k / 128);
  }
  const YuvTables& t = yuvTables();
  for (int u = 0; u < 256; ++u) {
    std::fill(s.us.begin(), s.us.end(), static_cast<std::uint8_t>(u));
    s.interleave();
    for (std::size_t k = 0; k < kN; ++k) {
      yuvToBgr(t, s.ys[2 * k], s.us[k], s.vs[k], &want[6 * k]);
      yuvToBgr(t, s.ys[2 * k + 1], s.us[k], s.vs[k], &want[6 * k + 3]);
    }
    for (int i = 1; i < availableYuvKernelCount(); ++i) {
      const YuvKernels& kernels = availableYuvKernels(i);
      for (const RowLayout& layout : kRowLayouts) {
        const std::uint8_t most = layout.run(kernels, s, got.data(), kPairs);
        EXPECT_EQ(most, largestByte(want.data(), want.size()))
            << kernels.name << " " << layout.name;
        if (got != want) {
          const std::string what = std::string(kernels.name) + " " + layout.name;
          expectReferenceRow(got.data(), s.ys.data(), s.us.data(), s.vs.data(), kPairs,
                             what.c_str());
          return;
        }
      }
    }
  }
}

// Every Y at every position of a vector step, and a tail, against the rule with neutral
// chroma.
TEST(YuvVectorKernelsTest, EveryGreyLevelMatchesTheReferenceRule) {
  if (availableYuvKernelCount() == 1) GTEST_SKIP() << "no vector kernels on this processor";
  constexpr std::int32_t kPixels = 256 * 17 + 15;
  constexpr auto kN = static_cast<std::size_t>(kPixels);
  std::vector<std::uint8_t> ys(kN), want(3 * kN), got(3 * kN);
  for (std::size_t x = 0; x < kN; ++x) {
    ys[x] = static_cast<std::uint8_t>(x + x / 256);
    yuvToBgr(yuvTables(), ys[x], kNeutralChroma, kNeutralChroma, &want[3 * x]);
  }
  for (int i = 1; i < availableYuvKernelCount(); ++i) {
    const std::uint8_t most =
        availableYuvKernels(i).greyRow(yuvTables(), ys.data(), got.data(), kPixels);
    EXPECT_EQ(got, want) << availableYuvKernels(i).name;
    EXPECT_EQ(most, largestByte(want.data(), want.size())) << availableYuvKernels(i).name;
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
  const auto randomBytes = [&](std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::uint8_t& b : bytes)
      b = static_cast<std::uint8_t>(rng());
    return bytes;
  };
  constexpr std::uint8_t kGuard = 0xA5;
  for (std::int32_t pairs = 0; pairs <= 72; ++pairs) {
    const auto n = static_cast<std::size_t>(pairs);
    RowSamples s;
    s.ys = randomBytes(2 * n);
    s.us = randomBytes(n);
    s.vs = randomBytes(n);
    s.interleave();
    for (const RowLayout& layout : kRowLayouts) {
      const auto out = std::make_unique<std::uint8_t[]>(6 * n + 1);
      out[6 * n] = kGuard;
      const std::uint8_t most = layout.run(kernels(), s, out.get(), pairs);
      const std::string what = std::string(layout.name) + ", " + std::to_string(pairs) + " pairs";
      expectReferenceRow(out.get(), s.ys.data(), s.us.data(), s.vs.data(), pairs, what.c_str());
      EXPECT_EQ(out[6 * n], kGuard) << what;
      EXPECT_EQ(most, largestByte(out.get(), 6 * n)) << what;
    }
  }
}

// A dark row with one bright pixel, at every place of rows around the vector widths and with
// the brightness in each channel in turn: the largest channel is found wherever it is.
TEST_P(YuvKernelsTest, ReportsTheLargestChannelOfItsRow) {
  // (Y, U, V) of the bright pixel: blue, green and red lead in turn.
  const std::array<std::array<std::uint8_t, 3>, 3> bright{
      {{120, 240, 128}, {160, 60, 40}, {90, 110, 250}}};
  for (const auto& [y, u, v] : bright) {
    for (std::int32_t pairs = 1; pairs <= 40; pairs += 3) {
      const auto n = static_cast<std::size_t>(pairs);
      for (std::size_t at = 0; at < 2 * n; ++at) {
        RowSamples s;
        s.ys.assign(2 * n, 20);
        s.us.assign(n, 126);
        s.vs.assign(n, 130);
        s.ys[at] = y;
        s.us[at / 2] = u;
        s.vs[at / 2] = v;
        s.interleave();
        for (const RowLayout& layout : kRowLayouts) {
          std::vector<std::uint8_t> out(6 * n);
          const std::uint8_t most = layout.run(kernels(), s, out.data(), pairs);
          ASSERT_EQ(most, largestByte(out.data(), out.size()))
              << layout.name << ", " << pairs << " pairs, bright pixel " << at;
        }
      }
    }
  }
}

// The grey row counts pixels, not pairs: odd lengths too.
TEST_P(YuvKernelsTest, AnyGreyLengthStaysInsideItsRow) {
  std::mt19937 rng(9);
  constexpr std::uint8_t kGuard = 0x5A;
  for (std::int32_t pixels = 0; pixels <= 80; ++pixels) {
    const auto n = static_cast<std::size_t>(pixels);
    std::vector<std::uint8_t> ys(n);
    for (std::uint8_t& y : ys)
      y = static_cast<std::uint8_t>(rng());
    const auto out = std::make_unique<std::uint8_t[]>(3 * n + 1);
    out[3 * n] = kGuard;
    const std::uint8_t most = kernels().greyRow(yuvTables(), ys.data(), out.get(), pixels);
    EXPECT_EQ(most, largestByte(out.get(), 3 * n)) << pixels << " pixels";
    for (std::size_t x = 0; x < n; ++x) {
      std::array<std::uint8_t, 3> want{};
      yuvToBgr(yuvTables(), ys[x], kNeutralChroma, kNeutralChroma, want.data());
      ASSERT_EQ(0, std::memcmp(want.data(), out.get() + 3 * x, 3)) << pixels << " pixels, " << x;
    }
    EXPECT_EQ(out[3 * n], kGuard) << pixels << " pixels";
  }
}

}  // namespace
}  // namespace ravdel
