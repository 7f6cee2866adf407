#include "detection/peak_kernels.h"

#include "base/kernel_sets.h"
#include "detection/peak_kernels_simd.h"

namespace ravdel {
namespace {

std::uint32_t rowMaxPortable(const std::uint8_t* row, std::int32_t width) {
  std::uint32_t best = 0;
  for (std::int32_t x = 0; x < width; ++x, row += 3) {
    const std::uint32_t s = sumOfSquares(row);
    if (s > best) best = s;
  }
  return best;
}

constexpr PeakKernels kPortable{"portable", rowMaxPortable};

const KernelSets<PeakKernels>& sets() {
  const CpuFeatures& cpu = cpuFeatures();
#if defined(__x86_64__)
  static const KernelSets<PeakKernels> kernels(
      kPortable, {{&kPeakKernelsAvx2, cpu.avx2}, {&kPeakKernelsAvx512, cpu.avx512}});
#elif defined(__aarch64__)
  static const KernelSets<PeakKernels> kernels(kPortable, {{&kPeakKernelsNeon, cpu.neon}});
#else
  static const KernelSets<PeakKernels> kernels(kPortable, {});
#endif
  return kernels;
}

}  // namespace

const PeakKernels& portablePeakKernels() {
  return kPortable;
}
const PeakKernels& bestPeakKernels() {
  return sets().best();
}
int availablePeakKernelCount() {
  return sets().count();
}
const PeakKernels& availablePeakKernels(int index) {
  return sets().at(index);
}

}  // namespace ravdel
