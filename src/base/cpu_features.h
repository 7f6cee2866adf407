#pragma once

namespace ravdel {

// What the processor we run on offers, read once. All false when the environment variable
// RAVDEL_PORTABLE_KERNELS is set to a non-empty value other than "0".
struct CpuFeatures {
  bool avx2 = false;
};

const CpuFeatures& cpuFeatures();

}  // namespace ravdel
