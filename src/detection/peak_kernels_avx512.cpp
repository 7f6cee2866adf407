// Peak-search row kernel with AVX-512 (F, BW, VBMI, VNNI), 16 pixels per step. Compiled with
// those instructions; run only when cpuFeatures().avx512 is set. Calls no inline function of
// the shared headers, so no copy of one built with AVX-512 can stand in for the baseline
// build's.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>

#include "detection/peak_kernels_simd.h"

namespace ravdel {
namespace {

using ByteTable = std::array<std::uint8_t, 64>;

// Pixel i's bytes (B, G, R at 3i..3i+2) as the words (B, G) and (R, 0) of 32-bit lane i; the
// zero bytes come from the masks.
constexpr ByteTable pick(int first, int second) {
  ByteTable t{};
  for (int i = 0; i < 64; ++i) {
    const int pixel = i / 4;
    t[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(3 * pixel + (i % 4 == 0 ? first : second));
  }
  return t;
}
constexpr ByteTable kBlueGreen = pick(0, 1);
constexpr ByteTable kRed = pick(2, 2);
constexpr __mmask64 kLowBytes = 0x5555555555555555ull;   // byte 0 of each word
constexpr __mmask64 kFirstByte = 0x1111111111111111ull;  // byte 0 of each 32-bit lane

std::uint32_t rowMaxAvx512(const std::uint8_t* row, std::int32_t width) {
  const __m512i blueGreen = _mm512_loadu_si512(kBlueGreen.data());
  const __m512i red = _mm512_loadu_si512(kRed.data());
  __m512i best = _mm512_setzero_si512();
  for (std::int32_t x = 0; x < width; x += 16, row += 48) {
    // The last step reads only the pixels that are left; the others count as black.
    const std::int32_t pixels = width - x < 16 ? width - x : 16;
    const __mmask64 bytes = _bzhi_u64(~0ull, static_cast<unsigned>(3 * pixels));
    const __m512i p = _mm512_maskz_loadu_epi8(bytes, row);
    const __m512i bg = _mm512_maskz_permutexvar_epi8(kLowBytes, blueGreen, p);
    const __m512i r = _mm512_maskz_permutexvar_epi8(kFirstByte, red, p);
    const __m512i sums =
        _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(_mm512_setzero_si512(), bg, bg), r, r);
    best = _mm512_max_epu32(best, sums);
  }
  return _mm512_reduce_max_epu32(best);
}

}  // namespace

extern const PeakKernels kPeakKernelsAvx512{"avx512", rowMaxAvx512};

}  // namespace ravdel

#endif  // defined(__x86_64__)
