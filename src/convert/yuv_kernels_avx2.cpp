// YUV row kernels with AVX2, 8 pixel pairs per step. Compiled with -mavx2; run only when
// cpuFeatures().avx2 is set. Calls no inline function of the shared headers, so no copy of one
// built with AVX2 can stand in for the baseline build's.
#if defined(__x86_64__)

#include <immintrin.h>

#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

__m256i bothLanes(__m128i lane) {
  return _mm256_broadcastsi128_si256(lane);
}

// Broadcast constants, loaded once per row.
struct Constants {
  __m256i yMul = _mm256_set1_epi32(kTermY.mul);
  __m256i yAdd = _mm256_set1_epi32(kTermY.add);
  __m256i ugMul = _mm256_set1_epi32(kTermUG.mul);
  __m256i ugAdd = _mm256_set1_epi32(kTermUG.add);
  __m256i ubMul = _mm256_set1_epi32(kTermUB.mul);
  __m256i ubAdd = _mm256_set1_epi32(kTermUB.add);
  __m256i vrMul = _mm256_set1_epi32(kTermVR.mul);
  __m256i vrAdd = _mm256_set1_epi32(kTermVR.add);
  __m256i vgMul = _mm256_set1_epi32(kTermVG.mul);
  __m256i vgAdd = _mm256_set1_epi32(kTermVG.add);
  // Byte n of 8 pixels' output (per 128-bit lane) from B0..7 G0..7 and from R0..7.
  __m256i fromBg0 =
      bothLanes(_mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5));
  __m256i fromR0 =
      bothLanes(_mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1));
  __m256i fromBg1 =
      bothLanes(_mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  __m256i fromR1 =
      bothLanes(_mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1));
};

// (mul * c + add) >> 10: the chroma table entry of each lane.
inline __m256i chromaEntry(__m256i c, __m256i mul, __m256i add) {
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(c, mul), add), 10);
}

// One channel of 16 pixels as words in pixel order: the high half of luma + 256 * chroma for
// the even and the odd pixel of each pair, which is floor(sum / 256) of the table sums.
inline __m256i channelWords(__m256i lumaEven, __m256i lumaOdd, __m256i chroma256) {
  const __m256i even = _mm256_add_epi32(lumaEven, chroma256);
  const __m256i odd = _mm256_add_epi32(lumaOdd, chroma256);
  return _mm256_blend_epi16(_mm256_srli_epi32(even, 16), odd, 0xAA);
}

// 16 pixels from 8 pairs, one pair per 32-bit lane (Y values and chroma zero-extended);
// writes 48 bytes and raises `most` to their largest channel (in some byte).
inline void convert8Pairs(const Constants& k, __m256i yEven, __m256i yOdd, __m256i u, __m256i v,
                          std::uint8_t* dst, __m256i& most) {
  const __m256i lumaEven = _mm256_add_epi32(_mm256_mullo_epi32(yEven, k.yMul), k.yAdd);
  const __m256i lumaOdd = _mm256_add_epi32(_mm256_mullo_epi32(yOdd, k.yMul), k.yAdd);
  const __m256i ub = _mm256_slli_epi32(chromaEntry(u, k.ubMul, k.ubAdd), 8);
  const __m256i vr = _mm256_slli_epi32(chromaEntry(v, k.vrMul, k.vrAdd), 8);
  const __m256i g = _mm256_slli_epi32(
      _mm256_add_epi32(chromaEntry(u, k.ugMul, k.ugAdd), chromaEntry(v, k.vgMul, k.vgAdd)), 8);

  // Signed words -> bytes with saturation is the 0..255 clamp.
  const __m256i blueGreen =
      _mm256_packus_epi16(channelWords(lumaEven, lumaOdd, ub), channelWords(lumaEven, lumaOdd, g));
  const __m256i red = channelWords(lumaEven, lumaOdd, vr);
  const __m256i redRed = _mm256_packus_epi16(red, red);
  most = _mm256_max_epu8(most, _mm256_max_epu8(blueGreen, redRed));

  const __m256i head = _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, k.fromBg0),
                                       _mm256_shuffle_epi8(redRed, k.fromR0));
  const __m256i tail = _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, k.fromBg1),
                                       _mm256_shuffle_epi8(redRed, k.fromR1));
  // Each 128-bit lane holds 8 pixels: 16 bytes in `head`, 8 in `tail`.
  auto* out = reinterpret_cast<__m128i*>(dst);
  _mm_storeu_si128(out, _mm256_castsi256_si128(head));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm256_castsi256_si128(tail));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24), _mm256_extracti128_si256(head, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 40), _mm256_extracti128_si256(tail, 1));
}

// The largest byte of `most`, or of the tail's channels when that is larger.
std::uint8_t largest(__m256i most, std::uint8_t tail) {
  return largestByte(_mm_max_epu8(_mm256_castsi256_si128(most), _mm256_extracti128_si256(most, 1)),
                     tail);
}

// Byte `byte` of each 32-bit lane.
template <int byte>
__m256i laneByte(__m256i p) {
  const __m256i shifted = _mm256_srli_epi32(p, 8 * byte);
  if constexpr (byte == 3) return shifted;
  return _mm256_and_si256(shifted, _mm256_set1_epi32(0xff));
}

// Packed 4:2:2, one pair per 32-bit lane; the byte numbers say where Y0, U, Y1 and V sit in
// it. The last pairs go to the portable kernel of the same layout.
template <int y0Byte, int uByte, int y1Byte, int vByte,
          auto YuvKernels::*PortableRow = &YuvKernels::packedRow>
std::uint8_t packed422RowAvx2(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                              std::int32_t pairs) {
  const Constants k;
  __m256i most = _mm256_setzero_si256();
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, src += 32, dst += 48) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    convert8Pairs(k, laneByte<y0Byte>(p), laneByte<y1Byte>(p), laneByte<uByte>(p),
                  laneByte<vByte>(p), dst, most);
  }
  const std::uint8_t tail =
      done < pairs ? (portableYuvKernels().*PortableRow)(t, src, dst, pairs - done) : 0;
  return largest(most, tail);
}

constexpr auto packedRowAvx2 = packed422RowAvx2<0, 1, 2, 3>;                      // Y0 U Y1 V
constexpr auto uyvyRowAvx2 = packed422RowAvx2<1, 0, 3, 2, &YuvKernels::uyvyRow>;  // U Y0 V Y1

std::uint8_t planarRowAvx2(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                           const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs) {
  const Constants k;
  __m256i most = _mm256_setzero_si256();
  const __m256i lowWord = _mm256_set1_epi32(0xffff);
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, y += 16, u += 8, v += 8, dst += 48) {
    const __m256i yWords =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
    const __m256i uLanes =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)));
    const __m256i vLanes =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)));
    convert8Pairs(k, _mm256_and_si256(yWords, lowWord), _mm256_srli_epi32(yWords, 16), uLanes,
                  vLanes, dst, most);
  }
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().planarRow(t, y, u, v, dst, pairs - done) : 0;
  return largest(most, tail);
}

// The chroma order is a template argument so that the loop holds no choice.
template <bool kVFirst>
std::int32_t semiPlanarPairsAvx2(const std::uint8_t* y, const std::uint8_t* chroma,
                                 std::uint8_t* dst, std::int32_t pairs, __m256i& most) {
  const Constants k;
  const __m256i lowWord = _mm256_set1_epi32(0xffff);
  const __m256i lowByte = _mm256_set1_epi32(0xff);
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, y += 16, chroma += 16, dst += 48) {
    const __m256i yWords =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
    // One chroma pair per 32-bit lane: first | second << 8.
    const __m256i c =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma)));
    const __m256i first = _mm256_and_si256(c, lowByte);
    const __m256i second = _mm256_srli_epi32(c, 8);
    convert8Pairs(k, _mm256_and_si256(yWords, lowWord), _mm256_srli_epi32(yWords, 16),
                  kVFirst ? second : first, kVFirst ? first : second, dst, most);
  }
  return done;
}

std::uint8_t semiPlanarRowAvx2(const YuvTables& t, const std::uint8_t* y,
                               const std::uint8_t* chroma, bool vFirst, std::uint8_t* dst,
                               std::int32_t pairs) {
  __m256i most = _mm256_setzero_si256();
  const std::int32_t done = vFirst ? semiPlanarPairsAvx2<true>(y, chroma, dst, pairs, most)
                                   : semiPlanarPairsAvx2<false>(y, chroma, dst, pairs, most);
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().semiPlanarRow(t, y + 2 * done, chroma + 2 * done, vFirst,
                                                        dst + 6 * done, pairs - done)
                   : 0;
  return largest(most, tail);
}

std::uint8_t greyRowAvx2(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                         std::int32_t pixels) {
  const Constants k;
  __m256i most = _mm256_setzero_si256();
  const __m256i lowWord = _mm256_set1_epi32(0xffff);
  const __m256i neutral = _mm256_set1_epi32(kNeutralChroma);
  std::int32_t done = 0;
  for (; done + 16 <= pixels; done += 16, y += 16, dst += 48) {
    const __m256i yWords =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
    convert8Pairs(k, _mm256_and_si256(yWords, lowWord), _mm256_srli_epi32(yWords, 16), neutral,
                  neutral, dst, most);
  }
  const std::uint8_t tail =
      done < pixels ? portableYuvKernels().greyRow(t, y, dst, pixels - done) : 0;
  return largest(most, tail);
}

}  // namespace

extern const YuvKernels kYuvKernelsAvx2{"avx2",        packedRowAvx2,     uyvyRowAvx2,
                                        planarRowAvx2, semiPlanarRowAvx2, greyRowAvx2};

}  // namespace ravdel

#endif  // defined(__x86_64__)
