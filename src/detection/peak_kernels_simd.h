#pragma once

#include "detection/peak_kernels.h"

namespace ravdel {

// Kernel sets built for wider instruction sets, each in its own source compiled with those
// instructions. Data only, so that nothing of them runs before the dispatch checked
// cpuFeatures().
#if defined(__x86_64__)
extern const PeakKernels kPeakKernelsAvx2;
extern const PeakKernels kPeakKernelsAvx512;
#elif defined(__aarch64__)
extern const PeakKernels kPeakKernelsNeon;
#endif

}  // namespace ravdel
