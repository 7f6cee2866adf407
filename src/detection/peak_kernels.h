#pragma once

#include <cstdint>

namespace ravdel {

// Row kernels of the peak search. Each gives the largest B*B + G*G + R*R over one row of
// `width` blue-green-red pixels (0 for an empty row), exactly.
struct PeakKernels {
  const char* name;
  std::uint32_t (*rowMaxSumOfSquares)(const std::uint8_t* row, std::int32_t width);
};

const PeakKernels& portablePeakKernels();
// The fastest kernels this processor runs, chosen once at run time
// (RAVDEL_PORTABLE_KERNELS=1 forces the portable ones).
const PeakKernels& bestPeakKernels();
int availablePeakKernelCount();
const PeakKernels& availablePeakKernels(int index);

inline std::uint32_t sumOfSquares(const std::uint8_t* bgr) {
  return std::uint32_t{bgr[0]} * bgr[0] + std::uint32_t{bgr[1]} * bgr[1] +
         std::uint32_t{bgr[2]} * bgr[2];
}

}  // namespace ravdel
