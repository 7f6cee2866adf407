#pragma once

namespace ravdel {

// What the processor we run on offers, read once. All false when the environment variable
// RAVDEL_PORTABLE_KERNELS is set to a non-empty value other than "0".
struct CpuFeatures {
  bool avx2 = false;
  // AVX-512 with byte and word instructions, byte permutes and word dot products (F, BW,
  // VBMI, VNNI), enabled by the operating system.
  bool avx512 = false;
  bool neon = false;  // Advanced SIMD of 64-bit ARM, which every such processor has
};

const CpuFeatures& cpuFeatures();

}  // namespace ravdel
