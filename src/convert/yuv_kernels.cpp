#include "convert/yuv_kernels.h"

#include "base/kernel_sets.h"
#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

void packedRowPortable(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                       std::int32_t pairs) {
  for (std::int32_t k = 0; k < pairs; ++k, src += 4, dst += 6) {
    yuvToBgr(t, src[0], src[1], src[3], dst);
    yuvToBgr(t, src[2], src[1], src[3], dst + 3);
  }
}

void uyvyRowPortable(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                     std::int32_t pairs) {
  for (std::int32_t k = 0; k < pairs; ++k, src += 4, dst += 6) {
    yuvToBgr(t, src[1], src[0], src[2], dst);
    yuvToBgr(t, src[3], src[0], src[2], dst + 3);
  }
}

void planarRowPortable(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                       const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs) {
  for (std::int32_t k = 0; k < pairs; ++k, y += 2, dst += 6) {
    yuvToBgr(t, y[0], u[k], v[k], dst);
    yuvToBgr(t, y[1], u[k], v[k], dst + 3);
  }
}

void semiPlanarRowPortable(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* chroma,
                           bool vFirst, std::uint8_t* dst, std::int32_t pairs) {
  const std::size_t uAt = vFirst ? 1 : 0;
  for (std::int32_t k = 0; k < pairs; ++k, y += 2, chroma += 2, dst += 6) {
    const std::uint8_t u = chroma[uAt];
    const std::uint8_t v = chroma[1 - uAt];
    yuvToBgr(t, y[0], u, v, dst);
    yuvToBgr(t, y[1], u, v, dst + 3);
  }
}

void greyRowPortable(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                     std::int32_t pixels) {
  for (std::int32_t x = 0; x < pixels; ++x, dst += 3)
    yuvToBgr(t, y[x], kNeutralChroma, kNeutralChroma, dst);
}

constexpr YuvKernels kPortable{"portable",        packedRowPortable,     uyvyRowPortable,
                               planarRowPortable, semiPlanarRowPortable, greyRowPortable};

const KernelSets<YuvKernels>& sets() {
#if defined(__x86_64__)
  static const KernelSets<YuvKernels> kernels(kPortable, &kYuvKernelsAvx2);
#else
  static const KernelSets<YuvKernels> kernels(kPortable, nullptr);
#endif
  return kernels;
}

}  // namespace

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
