#include "detection/peak_kernels.h"

#include <vector>

#include "base/cpu_features.h"

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

std::vector<const PeakKernels*> detectAvailable() {
  std::vector<const PeakKernels*> kernels{&kPortable};
  return kernels;
}

const std::vector<const PeakKernels*>& available() {
  static const std::vector<const PeakKernels*> kernels = detectAvailable();
  return kernels;
}

}  // namespace

const PeakKernels& portablePeakKernels() { return kPortable; }
const PeakKernels& bestPeakKernels() { return *available().back(); }
int availablePeakKernelCount() { return static_cast<int>(available().size()); }
const PeakKernels& availablePeakKernels(int index) {
  return *available().at(static_cast<std::size_t>(index));
}

}  // namespace ravdel
