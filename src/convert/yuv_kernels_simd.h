#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "convert/yuv_kernels.h"

namespace ravdel {

// A table of YuvTables as integer arithmetic: entry(i) = (mul * i + add) >> shift, equal to
// the table for every byte i (the vector kernels rely on that; the tests check all 256).
// Found by searching mul and add per shift; 8 is the smallest that works for luma, 10 works for
// every chroma table.
struct ExactTableTerm {
  std::int32_t mul;
  std::int32_t add;
  int shift;

  constexpr std::int32_t entry(int i) const { return (mul * i + add) >> shift; }
};

// Luma keeps shift 8 so that floor((y + 256 * chroma) / 65536) is the channel: the luma floor
// folds into the final shift, only the chroma terms are floored on their own.
inline constexpr ExactTableTerm kTermY{76309, 125, 8};
inline constexpr ExactTableTerm kTermUG{-102698, 512, 10};
inline constexpr ExactTableTerm kTermUB{528806, -72570402, 10};
inline constexpr ExactTableTerm kTermVR{418389, -58436895, 10};
inline constexpr ExactTableTerm kTermVG{-213115, 35540945, 10};
static_assert(kTermUG.shift == 10 && kTermUB.shift == 10 && kTermVR.shift == 10 &&
                  kTermVG.shift == 10,
              "the vector kernels shift every chroma term by 10");

// Kernel sets built for wider instruction sets, each in its own source compiled with those
// instructions. Data only, so that nothing of them runs before the dispatch checked
// cpuFeatures().
#if defined(__x86_64__)
// The largest of the 16 bytes of `lanes`, or `tail` when that is larger (SSE2, the baseline:
// the wider sets reduce their maxima to 128 bits and call it).
std::uint8_t largestByte(__m128i lanes, std::uint8_t tail);

extern const YuvKernels kYuvKernelsAvx2;
extern const YuvKernels kYuvKernelsAvx512;
#elif defined(__aarch64__)
extern const YuvKernels kYuvKernelsNeon;
#endif

}  // namespace ravdel
