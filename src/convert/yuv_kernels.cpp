#include "convert/yuv_kernels.h"

#include <algorithm>

#include "base/kernel_sets.h"
#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

// One pixel by the reference rule; returns its largest channel.
std::uint8_t pixel(const YuvTables& t, std::uint8_t y, std::uint8_t u, std::uint8_t v,
                   std::uint8_t* dst) {
  yuvToBgr(t, y, u, v, dst);
  return std::max({dst[0], dst[1], dst[2]});
}

std::uint8_t packedRowPortable(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                               std::int32_t pairs) {
  std::uint8_t most = 0;
  for (std::int32_t k = 0; k < pairs; ++k, src += 4, dst += 6) {
    most = std::max(
        {most, pixel(t, src[0], src[1], src[3], dst), pixel(t, src[2], src[1], src[3], dst + 3)});
  }
  return most;
}

std::uint8_t uyvyRowPortable(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                             std::int32_t pairs) {
  std::uint8_t most = 0;
  for (std::int32_t k = 0; k < pairs; ++k, src += 4, dst += 6) {
    most = std::max(
        {most, pixel(t, src[1], src[0], src[2], dst), pixel(t, src[3], src[0], src[2], dst + 3)});
  }
  return most;
}

std::uint8_t planarRowPortable(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                               const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs) {
  std::uint8_t most = 0;
  for (std::int32_t k = 0; k < pairs; ++k, y += 2, dst += 6) {
    most = std::max({most, pixel(t, y[0], u[k], v[k], dst), pixel(t, y[1], u[k], v[k], dst + 3)});
  }
  return most;
}

std::uint8_t semiPlanarRowPortable(const YuvTables& t, const std::uint8_t* y,
                                   const std::uint8_t* chroma, bool vFirst, std::uint8_t* dst,
                                   std::int32_t pairs) {
  const std::size_t uAt = vFirst ? 1 : 0;
  std::uint8_t most = 0;
  for (std::int32_t k = 0; k < pairs; ++k, y += 2, chroma += 2, dst += 6) {
    const std::uint8_t u = chroma[uAt];
    const std::uint8_t v = chroma[1 - uAt];
    most = std::max({most, pixel(t, y[0], u, v, dst), pixel(t, y[1], u, v, dst + 3)});
  }
  return most;
}

std::uint8_t greyRowPortable(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                             std::int32_t pixels) {
  std::uint8_t most = 0;
  for (std::int32_t x = 0; x < pixels; ++x, dst += 3) {
    const std::uint8_t level = t.grey[y[x]];
    dst[0] = dst[1] = dst[2] = level;
    most = std::max(most, level);
  }
  return most;
}

constexpr YuvKernels kPortable{"portable",        packedRowPortable,     uyvyRowPortable,
                               planarRowPortable, semiPlanarRowPortable, greyRowPortable};

const KernelSets<YuvKernels>& sets() {
  const CpuFeatures& cpu = cpuFeatures();
#if defined(__x86_64__)
  static const KernelSets<YuvKernels> kernels(
      kPortable, {{&kYuvKernelsAvx2, cpu.avx2}, {&kYuvKernelsAvx512, cpu.avx512}});
#elif defined(__aarch64__)
  static const KernelSets<YuvKernels> kernels(kPortable, {{&kYuvKernelsNeon, cpu.neon}});
#else
  static const KernelSets<YuvKernels> kernels(kPortable, {});
#endif
  return kernels;
}

}  // namespace

#if defined(__x86_64__)
std::uint8_t largestByte(__m128i lanes, std::uint8_t tail) {
  __m128i m = _mm_max_epu8(lanes, _mm_srli_si128(lanes, 8));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
  const auto most = static_cast<std::uint8_t>(_mm_cvtsi128_si32(m) & 0xff);
  return most > tail ? most : tail;
}
#endif

const YuvKernels& portableYuvKernels() {
  return kPortable;
}
const YuvKernels& bestYuvKernels() {
  return sets().best();
}
int availableYuvKernelCount() {
  return sets().count();
}
const YuvKernels& availableYuvKernels(int index) {
  return sets().at(index);
}

}  // namespace ravdel
