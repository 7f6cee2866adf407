// Peak-search row kernel with AVX2, 8 pixels per step. Compiled with -mavx2; run only when
// cpuFeatures().avx2 is set. Calls no inline function of the shared headers, so no copy of one
// built with AVX2 can stand in for the baseline build's.
#if defined(__x86_64__)

#include <immintrin.h>

#include "detection/peak_kernels_simd.h"

namespace ravdel {
namespace {

std::uint32_t rowMaxAvx2(const std::uint8_t* row, std::int32_t width) {
  if (width < 8) return portablePeakKernels().rowMaxSumOfSquares(row, width);

  // A step loads pixels 0..3 into the low 128-bit lane (bytes 0..11) and pixels 4..7 into the
  // high one (bytes 4..15 of the load at +8), so no load passes the step's last pixel. The
  // shuffles widen them to words: (B, G) and (R, 0) per 32-bit lane, squared and summed by
  // pmaddwd: B*B + G*G + R*R per lane, at most 195075.
  const __m256i blueGreen =
      _mm256_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1, 4, -1, 5, -1, 7, -1,
                       8, -1, 10, -1, 11, -1, 13, -1, 14, -1);
  const __m256i red =
      _mm256_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1, 6, -1, -1, -1,
                       9, -1, -1, -1, 12, -1, -1, -1, 15, -1, -1, -1);
  __m256i best = _mm256_setzero_si256();
  const auto step = [&](const std::uint8_t* p) {
    const __m256i bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
    const __m256i bg = _mm256_shuffle_epi8(bytes, blueGreen);
    const __m256i r = _mm256_shuffle_epi8(bytes, red);
    const __m256i sums = _mm256_add_epi32(_mm256_madd_epi16(bg, bg), _mm256_madd_epi16(r, r));
    best = _mm256_max_epu32(best, sums);
  };
  std::int32_t x = 0;
  for (; x + 8 <= width; x += 8)
    step(row + 3 * x);
  // The last pixels again with the final step's overlap: the maximum does not mind.
  if (x < width) step(row + 3 * (width - 8));

  __m128i m = _mm_max_epu32(_mm256_castsi256_si128(best), _mm256_extracti128_si256(best, 1));
  m = _mm_max_epu32(m, _mm_shuffle_epi32(m, 0x4E));
  m = _mm_max_epu32(m, _mm_shuffle_epi32(m, 0xB1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(m));
}

}  // namespace

extern const PeakKernels kPeakKernelsAvx2{"avx2", rowMaxAvx2};

}  // namespace ravdel

#endif  // defined(__x86_64__)
