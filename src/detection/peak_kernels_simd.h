#pragma once

#include "detection/peak_kernels.h"

namespace ravdel {

// Kernel sets built for wider x86-64 instruction sets, each in its own source compiled with
// those instructions. Data only, so that nothing of them runs before the dispatch checked
// cpuFeatures().
#if defined(__x86_64__)
extern const PeakKernels kPeakKernelsAvx2;
#endif

}  // namespace ravdel
