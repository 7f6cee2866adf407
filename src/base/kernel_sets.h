#pragma once

#include <cstddef>
#include <vector>

#include "base/cpu_features.h"

namespace ravdel {

// The kernel sets of one family that this processor runs, narrowest first: the portable set
// always, a wider one only when the processor has its instructions. All give the same bytes.
template <typename Kernels>
class KernelSets {
 public:
  KernelSets(const Kernels& portable, const Kernels* avx2) : sets_{&portable} {
    if (avx2 != nullptr && cpuFeatures().avx2) sets_.push_back(avx2);
  }

  const Kernels& best() const { return *sets_.back(); }
  int count() const { return static_cast<int>(sets_.size()); }
  const Kernels& at(int index) const { return *sets_.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<const Kernels*> sets_;
};

}  // namespace ravdel
