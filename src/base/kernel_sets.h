#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "base/cpu_features.h"

namespace ravdel {

// The kernel sets of one family that this processor runs, narrowest first: the portable set
// always, each wider one only when the processor has its instructions. All give the same
// bytes.
template <typename Kernels>
class KernelSets {
 public:
  // A wider set and whether this processor runs it (a cpuFeatures() flag).
  struct Wider {
    const Kernels* kernels;
    bool runs;
  };

  KernelSets(const Kernels& portable, std::initializer_list<Wider> wider) : sets_{&portable} {
    for (const Wider& w : wider) {
      if (w.kernels != nullptr && w.runs) sets_.push_back(w.kernels);
    }
  }

  const Kernels& best() const { return *sets_.back(); }
  int count() const { return static_cast<int>(sets_.size()); }
  const Kernels& at(int index) const { return *sets_.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<const Kernels*> sets_;
};

}  // namespace ravdel
