// YUV row kernels with AVX-512 (F, BW, VBMI, VNNI), 16 pixel pairs per step. Compiled with those
// instructions; run only when cpuFeatures().avx512 is set. Calls no inline function of the
// shared headers, so no copy of one built with AVX-512 can stand in for the baseline build's.
//
// Every layout is first permuted into Y0 U Y1 V order, one pair per 32-bit lane; the channels
// follow the AVX2 kernels' exact arithmetic. The large multipliers go through word dot
// products, and byte permutes put 32 pixels' channels in blue-green-red order. Grey takes a
// shorter way: one level a pixel in 16-bit words (kGreyLevel), written as all three channels.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <limits>

#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

using ByteTable = std::array<std::uint8_t, 64>;

// Index tables of _mm512_permutex2var_epi8: bit 6 picks the second source.
constexpr std::uint8_t kSecond = 64;

template <typename ByteAt>
consteval ByteTable byteTable(ByteAt at) {
  return ravdel::byteTable<64>(at);
}

__m512i load(const ByteTable& t) {
  return _mm512_loadu_si512(t.data());
}

// Output byte o of 32 pixels (blue, green, red per pixel) from the packed channels.
// Pixel 8L + j sits in 128-bit lane L. The sums of its pair are in 32-bit lane j / 2 of the even
// (j even) or the odd register; packing the two to bytes puts the clamped high word of lane m
// at byte 2m + 1 (even register) or 8 + 2m + 1 (odd one). Blue and green share one register,
// green moved down a byte; red keeps its odd bytes (the second source).
constexpr int channelByte(int o) {
  const int pixel = o / 3;
  const int lane = pixel / 8;
  const int j = pixel % 8;
  const int at = 16 * lane + (j % 2 == 0 ? 0 : 8) + 2 * (j / 2) + 1;
  switch (o % 3) {
    case 0:
      return at;
    case 1:
      return at - 1;
    default:
      return kSecond + at;
  }
}
constexpr ByteTable kOutFirst = byteTable([](int i) { return channelByte(i); });
constexpr ByteTable kOutSecond = byteTable([](int i) { return i < 32 ? channelByte(64 + i) : 0; });
constexpr __mmask64 kOddBytes = 0xAAAAAAAAAAAAAAAAull;

// Where U and V sit in a pair: Y0 U Y1 V, or U Y0 V Y1.
enum class PairOrder { yuyv, uyvy };
constexpr ByteTable kUWords[] = {chromaWordsShuffle<64>(1), chromaWordsShuffle<64>(0)};
constexpr ByteTable kVWords[] = {chromaWordsShuffle<64>(3), chromaWordsShuffle<64>(2)};

// Y0 U Y1 V from a row's Y bytes (first source) and chroma bytes (second source).
constexpr ByteTable kFromPlanar = byteTable([](int i) {  // U bytes 0..15, V bytes 16..31
  const int k = i / 4;
  const int at[] = {2 * k, kSecond + k, 2 * k + 1, kSecond + 16 + k};
  return at[i % 4];
});
consteval ByteTable semiPlanar(bool vFirst) {
  return byteTable([vFirst](int i) {
    const int k = i / 4;
    const int u = kSecond + 2 * k + (vFirst ? 1 : 0);
    const int v = kSecond + 2 * k + (vFirst ? 0 : 1);
    const int at[] = {2 * k, u, 2 * k + 1, v};
    return at[i % 4];
  });
}
constexpr ByteTable kFromUv = semiPlanar(false);
constexpr ByteTable kFromVu = semiPlanar(true);

// A chroma term's sum mul * c + add (its table entry is the sum >> 10) from the chroma words.
struct ChromaTerm {
  __m512i words;
  __m512i add;

  explicit ChromaTerm(const WordPairTerm& term)
      : words(_mm512_set1_epi32(term.words)), add(_mm512_set1_epi32(term.add)) {}

  // mul * c + add for the chroma words of each lane.
  __m512i sum(__m512i chromaWords) const { return _mm512_dpwssd_epi32(add, chromaWords, words); }
};

// Broadcast constants, made once per row.
struct Constants {
  ChromaTerm ub{kWordsUB}, ug{kWordsUG}, vr{kWordsVR}, vg{kWordsVG};
  // The words (Y0, Y1) times these give 10773 * Y0 and 10773 * Y1; the rest of the luma
  // factor, 65536 * Y, is Y moved to the high word.
  __m512i evenLumaFactor = _mm512_set1_epi32(kTermY.mul - 65536);
  __m512i oddLumaFactor = _mm512_set1_epi32((kTermY.mul - 65536) << 16);
  __m512i yWords = _mm512_set1_epi32(0x00ff00ff);
  __m512i highWord = _mm512_set1_epi32(static_cast<std::int32_t>(0xffff0000u));
  __m512i chromaSign = _mm512_set1_epi32(std::numeric_limits<std::int32_t>::min());
  __m512i clearLowByte = _mm512_set1_epi32(~0xff);
  __m512i lumaAdd = _mm512_set1_epi32(kTermY.add);
  __m512i uWords, vWords;
  __m512i outFirst = load(kOutFirst);
  __m512i outSecond = load(kOutSecond);
  // A byte shuffle moving each lane's high word into its low word, and the low words' bytes.
  __m512i highWordDown = load(byteTable([](int i) { return ((i % 16) & ~3) + 2 + i % 2; }));
  __mmask64 lowWordBytes = 0x3333333333333333ull;
  __mmask64 oddBytes = kOddBytes;

  explicit Constants(PairOrder order = PairOrder::yuyv)
      : uWords(load(kUWords[static_cast<int>(order)])),
        vWords(load(kVWords[static_cast<int>(order)])) {
    // Left to itself the compiler makes several of these again in every step of a row, with
    // broadcasts and mask moves on the port the permutes and packs already keep busy. Hiding
    // their values keeps them in registers.
    asm(""
        : "+v"(ub.words), "+v"(ub.add), "+v"(ug.words), "+v"(ug.add), "+v"(vr.words), "+v"(vr.add),
          "+v"(vg.words), "+v"(vg.add));
    asm(""
        : "+v"(evenLumaFactor), "+v"(oddLumaFactor), "+v"(yWords), "+v"(highWord), "+v"(chromaSign),
          "+v"(clearLowByte), "+v"(lumaAdd), "+v"(highWordDown));
    asm("" : "+k"(oddBytes), "+k"(lowWordBytes));
  }
};
static_assert(kTermY.shift == 8, "luma + 256 * chroma is taken in one shift by 16");

// 256 times each pair's table entries, with the luma's rounding add in the low byte.
struct ChromaSums {
  __m512i blue, green, red;
};

// (sum >> 2) & ~0xff | add: 256 * (sum >> 10), the add in the cleared byte.
inline __m512i scaledEntry(const Constants& k, __m512i sum) {
  return _mm512_ternarylogic_epi32(_mm512_srai_epi32(sum, 2), k.clearLowByte, k.lumaAdd, 0xEA);
}

// The chroma of 16 pairs in the order `k` was made for.
[[gnu::always_inline]] inline ChromaSums chromaOf(const Constants& k, __m512i p) {
  const __m512i u = _mm512_xor_si512(_mm512_shuffle_epi8(p, k.uWords), k.chromaSign);
  const __m512i v = _mm512_xor_si512(_mm512_shuffle_epi8(p, k.vWords), k.chromaSign);
  const __m512i green =
      _mm512_add_epi32(scaledEntry(k, k.ug.sum(u)),
                       _mm512_and_si512(_mm512_srai_epi32(k.vg.sum(v), 2), k.clearLowByte));
  return {scaledEntry(k, k.ub.sum(u)), green, scaledEntry(k, k.vr.sum(v))};
}

// One channel of the even and the odd pixels: luma + chroma per 32-bit lane, whose high word is
// floor(sum / 65536); packing the words to bytes with saturation clamps it to 0..255 in the
// odd bytes (the even bytes get the low words, unused).
inline __m512i channelBytes(__m512i lumaEven, __m512i lumaOdd, __m512i chroma) {
  return _mm512_packus_epi16(_mm512_add_epi32(lumaEven, chroma), _mm512_add_epi32(lumaOdd, chroma));
}

// Blue and green of the pixels with luma `luma`: the green sum's high word moved into the low
// word of the blue sum, so that packing to bytes clamps green into the even byte and blue into
// the odd one.
inline __m512i blueGreenSums(const Constants& k, __m512i luma, const ChromaSums& c) {
  return _mm512_mask_shuffle_epi8(_mm512_add_epi32(luma, c.blue), k.lowWordBytes,
                                  _mm512_add_epi32(luma, c.green), k.highWordDown);
}

// 32 pixels from 16 pairs (64 bytes in `order`) with their chroma `c`; writes 96 bytes and
// raises `most` to their largest channel (in some byte).
template <PairOrder order>
[[gnu::always_inline]] inline void emitPixels(const Constants& k, __m512i p, const ChromaSums& c,
                                              std::uint8_t* dst, __m512i& most) {
  const __m512i y =
      order == PairOrder::yuyv ? _mm512_and_si512(p, k.yWords) : _mm512_srli_epi16(p, 8);
  const __m512i lumaEven = _mm512_dpwssd_epi32(_mm512_slli_epi32(y, 16), y, k.evenLumaFactor);
  const __m512i lumaOdd = _mm512_dpwssd_epi32(_mm512_and_si512(y, k.highWord), y, k.oddLumaFactor);
  const __m512i blueGreen =
      _mm512_packus_epi16(blueGreenSums(k, lumaEven, c), blueGreenSums(k, lumaOdd, c));
  const __m512i red = channelBytes(lumaEven, lumaOdd, c.red);
  most = _mm512_max_epu8(most, blueGreen);
  most = _mm512_mask_max_epu8(most, k.oddBytes, most, red);

  _mm512_storeu_si512(dst, _mm512_permutex2var_epi8(blueGreen, k.outFirst, red));
  _mm256_storeu_si256(
      reinterpret_cast<__m256i*>(dst + 64),
      _mm512_castsi512_si256(_mm512_permutex2var_epi8(blueGreen, k.outSecond, red)));
}

template <PairOrder order = PairOrder::yuyv>
[[gnu::always_inline]] inline void convert16Pairs(const Constants& k, __m512i p, std::uint8_t* dst,
                                                  __m512i& most) {
  emitPixels<order>(k, p, chromaOf(k, p), dst, most);
}

// The largest byte of `most`, or the tail's largest channel when that is larger.
std::uint8_t largest(__m512i most, std::uint8_t tail) {
  const __m256i half =
      _mm256_max_epu8(_mm512_castsi512_si256(most), _mm512_extracti64x4_epi64(most, 1));
  return largestByte(_mm_max_epu8(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1)),
                     tail);
}

__m512i load32(const std::uint8_t* p) {
  return _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

__m512i load64(const std::uint8_t* p) {
  return _mm512_loadu_si512(p);
}

// Packed 4:2:2 in either pair order; the last pairs go to the portable kernel of that order.
template <PairOrder order, auto YuvKernels::*PortableRow>
std::uint8_t packed422RowAvx512(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                                std::int32_t pairs) {
  const Constants k(order);
  __m512i most = _mm512_setzero_si512();
  std::int32_t done = 0;
  for (; done + 16 <= pairs; done += 16, src += 64, dst += 96)
    convert16Pairs<order>(k, load64(src), dst, most);
  const std::uint8_t tail =
      done < pairs ? (portableYuvKernels().*PortableRow)(t, src, dst, pairs - done) : 0;
  return largest(most, tail);
}

constexpr auto packedRowAvx512 = packed422RowAvx512<PairOrder::yuyv, &YuvKernels::packedRow>;
constexpr auto uyvyRowAvx512 = packed422RowAvx512<PairOrder::uyvy, &YuvKernels::uyvyRow>;

std::uint8_t planarRowAvx512(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                             const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs) {
  const Constants k;
  const __m512i order = load(kFromPlanar);
  __m512i most = _mm512_setzero_si512();
  std::int32_t done = 0;
  for (; done + 16 <= pairs; done += 16, y += 32, u += 16, v += 16, dst += 96) {
    const __m256i uv = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), 1);
    convert16Pairs(k, _mm512_permutex2var_epi8(load32(y), order, _mm512_zextsi256_si512(uv)), dst,
                   most);
  }
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().planarRow(t, y, u, v, dst, pairs - done) : 0;
  return largest(most, tail);
}

std::uint8_t semiPlanarRowAvx512(const YuvTables& t, const std::uint8_t* y,
                                 const std::uint8_t* chroma, bool vFirst, std::uint8_t* dst,
                                 std::int32_t pairs) {
  const Constants k;
  const __m512i order = load(vFirst ? kFromVu : kFromUv);
  __m512i most = _mm512_setzero_si512();
  std::int32_t done = 0;
  for (; done + 16 <= pairs; done += 16, y += 32, chroma += 32, dst += 96)
    convert16Pairs(k, _mm512_permutex2var_epi8(load32(y), order, load32(chroma)), dst, most);
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().semiPlanarRow(t, y, chroma, vFirst, dst, pairs - done)
                   : 0;
  return largest(most, tail);
}

// Grey: each level once, from 16-bit words (kGreyLevel), then written three times. The bytes
// of 64 pixels' triples from their levels: the first, second and last 64.
consteval ByteTable greyTriples(int part) {
  return byteTable([part](int i) { return (64 * part + i) / 3; });
}
constexpr ByteTable kGreyTriples[] = {greyTriples(0), greyTriples(1), greyTriples(2)};

struct GreyConstants {
  __m512i one = _mm512_set1_epi8(1);
  // Byte weights of the words (Y, 1): (scale, add) gives scale * Y + add, (1, offset) Y + offset.
  __m512i scaled = _mm512_set1_epi16(static_cast<short>(kGreyLevel.add << 8 | kGreyLevel.scale));
  __m512i shifted = _mm512_set1_epi16(static_cast<short>((kGreyLevel.offset & 0xff) << 8 | 1));
  __m512i mul = _mm512_set1_epi16(static_cast<short>(kGreyLevel.mul));
  __m512i triples[3] = {load(kGreyTriples[0]), load(kGreyTriples[1]), load(kGreyTriples[2])};
};
static_assert(kGreyLevel.scale < 128 && kGreyLevel.add < 128 && kGreyLevel.offset >= -128,
              "the grey weights are signed bytes");

// The levels of the words (Y, 1), not yet clamped.
inline __m512i greyLevels(const GreyConstants& k, __m512i pairs) {
  const __m512i carry = _mm512_mulhi_epu16(_mm512_maddubs_epi16(pairs, k.scaled), k.mul);
  return _mm512_add_epi16(_mm512_maddubs_epi16(pairs, k.shifted), carry);
}

std::uint8_t greyRowAvx512(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                           std::int32_t pixels) {
  const GreyConstants k;
  __m512i most = _mm512_setzero_si512();
  std::int32_t done = 0;
  for (; done + 64 <= pixels; done += 64, y += 64, dst += 192) {
    const __m512i luma = _mm512_loadu_si512(y);
    // Unpacking and packing both work within 128-bit lanes: the levels stay in pixel order.
    const __m512i levels = _mm512_packus_epi16(greyLevels(k, _mm512_unpacklo_epi8(luma, k.one)),
                                               greyLevels(k, _mm512_unpackhi_epi8(luma, k.one)));
    most = _mm512_max_epu8(most, levels);
    for (int part = 0; part < 3; ++part)
      _mm512_storeu_si512(dst + 64 * part, _mm512_permutexvar_epi8(k.triples[part], levels));
  }
  const std::uint8_t tail =
      done < pixels ? portableYuvKernels().greyRow(t, y, dst, pixels - done) : 0;
  return largest(most, tail);
}

}  // namespace

extern const YuvKernels kYuvKernelsAvx512{"avx512",        packedRowAvx512,     uyvyRowAvx512,
                                          planarRowAvx512, semiPlanarRowAvx512, greyRowAvx512};

}  // namespace ravdel

#endif  // defined(__x86_64__)
