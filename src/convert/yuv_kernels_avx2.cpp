// YUV row kernels with AVX2, 8 pixel pairs per step. Compiled with -mavx2; run only when
// cpuFeatures().avx2 is set. Calls no inline function of the shared headers, so no copy of one
// built with AVX2 can stand in for the baseline build's.
//
// Every layout is first brought into packed pairs, one per 32-bit lane, and converted with
// the AVX-512 kernels' exact arithmetic: word dot products for the large multipliers (a 32-bit
// multiply costs two), in-lane byte shuffles for moving bytes. Grey takes a shorter way: one
// level a pixel in 16-bit words (kGreyLevel), written as all three channels.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <limits>

#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

// Where the bytes of a pixel pair sit in its 32-bit lane.
struct PairLayout {
  int y0, u, y1, v;
};
constexpr PairLayout kYuyv{0, 1, 2, 3};
constexpr PairLayout kUyvy{1, 0, 3, 2};
constexpr PairLayout kYvyu{0, 3, 2, 1};

// A byte shuffle's indices, the same for both 128-bit lanes.
using ShuffleTable = std::array<std::uint8_t, 32>;

template <typename ByteAt>
consteval ShuffleTable shuffleTable(ByteAt at) {
  return byteTable<32>([at](int i) { return at(i % 16); });
}

__m256i load(const ShuffleTable& t) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.data()));
}

// The chroma words' shuffle for a chroma byte at each place of a pair.
constexpr ShuffleTable kChromaWords[] = {chromaWordsShuffle<32>(0), chromaWordsShuffle<32>(1),
                                         chromaWordsShuffle<32>(2), chromaWordsShuffle<32>(3)};

// Output byte o of a 128-bit lane's 8 pixels (blue, green, red per pixel) from the packed
// channels. Pair k's even pixel has green and blue at bytes 2k and 2k + 1 of `blueGreen`, its
// odd pixel at 8 + 2k and 9 + 2k; red sits at the blue byte's place in `red`.
constexpr int channelByte(int o, bool fromRed) {
  const int pixel = o / 3;
  const int at = (pixel % 2 == 0 ? 0 : 8) + 2 * (pixel / 2);
  switch (o % 3) {
    case 0:
      return fromRed ? kZeroByte : at + 1;
    case 1:
      return fromRed ? kZeroByte : at;
    default:
      return fromRed ? at + 1 : kZeroByte;
  }
}
// The first 16 output bytes of a lane, and the last 8.
constexpr ShuffleTable kHeadFromBlueGreen =
    shuffleTable([](int i) { return channelByte(i, false); });
constexpr ShuffleTable kHeadFromRed = shuffleTable([](int i) { return channelByte(i, true); });
constexpr ShuffleTable kTailFromBlueGreen =
    shuffleTable([](int i) { return i < 8 ? channelByte(16 + i, false) : kZeroByte; });
constexpr ShuffleTable kTailFromRed =
    shuffleTable([](int i) { return i < 8 ? channelByte(16 + i, true) : kZeroByte; });

// A chroma term's sum mul * c + add (its table entry is the sum >> 10) from the chroma words.
struct ChromaTerm {
  __m256i words;
  __m256i add;

  explicit ChromaTerm(const WordPairTerm& term)
      : words(_mm256_set1_epi32(term.words)), add(_mm256_set1_epi32(term.add)) {}

  // mul * c + add for the chroma words of each lane.
  __m256i sum(__m256i chromaWords) const {
    return _mm256_add_epi32(_mm256_madd_epi16(chromaWords, words), add);
  }
};

// Broadcast constants, made once per row.
struct Constants {
  ChromaTerm ub{kWordsUB}, ug{kWordsUG}, vr{kWordsVR}, vg{kWordsVG};
  __m256i uWords, vWords;
  __m256i chromaSign = _mm256_set1_epi32(std::numeric_limits<std::int32_t>::min());
  __m256i clearLowByte = _mm256_set1_epi32(~0xff);
  __m256i lumaAdd = _mm256_set1_epi32(kTermY.add);
  // The words (Y0, Y1) times these give 10773 * Y0 and 10773 * Y1; the rest of the luma
  // factor, 65536 * Y, is Y moved to the high word.
  __m256i evenLumaFactor = _mm256_set1_epi32(kTermY.mul - 65536);
  __m256i oddLumaFactor = _mm256_set1_epi32((kTermY.mul - 65536) << 16);
  __m256i yWords = _mm256_set1_epi32(0x00ff00ff);
  __m256i headFromBlueGreen = load(kHeadFromBlueGreen);
  __m256i headFromRed = load(kHeadFromRed);
  __m256i tailFromBlueGreen = load(kTailFromBlueGreen);
  __m256i tailFromRed = load(kTailFromRed);

  explicit Constants(const PairLayout& layout)
      : uWords(load(kChromaWords[layout.u])), vWords(load(kChromaWords[layout.v])) {}
};
static_assert(kTermY.shift == 8, "luma + 256 * chroma is taken in one shift by 16");

// 256 times each pair's table entries.
struct ChromaSums {
  __m256i blue, green, red;
};

// 256 * (sum >> 10): (sum >> 2) with the low byte cleared.
inline __m256i scaledEntry(const Constants& k, __m256i sum) {
  return _mm256_and_si256(_mm256_srai_epi32(sum, 2), k.clearLowByte);
}

inline ChromaSums chromaOf(const Constants& k, __m256i p) {
  const __m256i u = _mm256_xor_si256(_mm256_shuffle_epi8(p, k.uWords), k.chromaSign);
  const __m256i v = _mm256_xor_si256(_mm256_shuffle_epi8(p, k.vWords), k.chromaSign);
  const __m256i green = _mm256_add_epi32(scaledEntry(k, k.ug.sum(u)), scaledEntry(k, k.vg.sum(v)));
  return {scaledEntry(k, k.ub.sum(u)), green, scaledEntry(k, k.vr.sum(v))};
}

// The largest channel so far: bytes of blue and green, and red in the high byte of each word.
struct Most {
  __m256i blueGreen = _mm256_setzero_si256();
  __m256i red = _mm256_setzero_si256();
};

// Blue and green of the pixels with luma `luma`, per 32-bit lane: the green sum's high word
// moved into the low word of the blue sum, so that packing to bytes clamps green into the even
// byte and blue into the odd one.
inline __m256i blueGreenSums(__m256i luma, const ChromaSums& c) {
  return _mm256_blend_epi16(_mm256_add_epi32(luma, c.blue),
                            _mm256_srli_epi32(_mm256_add_epi32(luma, c.green), 16), 0x55);
}

// 16 pixels from 8 pairs in `layout` with their chroma `c`; writes the first half's 24 bytes
// at `dst` and the second half's `secondHalf` bytes after them.
template <PairLayout layout>
inline void emitPixels(const Constants& k, __m256i p, const ChromaSums& c, std::uint8_t* dst,
                       Most& most, std::size_t secondHalf = 24) {
  static_assert(layout.y1 == layout.y0 + 2, "the Y bytes are the low or the high byte of a word");
  const __m256i y = layout.y0 == 0 ? _mm256_and_si256(p, k.yWords) : _mm256_srli_epi16(p, 8);
  // 76309 * Y + 125 per pixel: Y and the rounding add in the high and the low word, plus the
  // words' dot product.
  const __m256i lumaEven = _mm256_add_epi32(_mm256_or_si256(_mm256_slli_epi32(y, 16), k.lumaAdd),
                                            _mm256_madd_epi16(y, k.evenLumaFactor));
  const __m256i lumaOdd = _mm256_add_epi32(_mm256_blend_epi16(y, k.lumaAdd, 0x55),
                                           _mm256_madd_epi16(y, k.oddLumaFactor));
  // Luma + chroma per 32-bit lane has the channel in its high word, floor(sum / 65536); packing
  // the words to bytes with saturation is the clamp to 0..255. Red keeps its odd bytes.
  const __m256i blueGreen =
      _mm256_packus_epi16(blueGreenSums(lumaEven, c), blueGreenSums(lumaOdd, c));
  const __m256i red =
      _mm256_packus_epi16(_mm256_add_epi32(lumaEven, c.red), _mm256_add_epi32(lumaOdd, c.red));
  most.blueGreen = _mm256_max_epu8(most.blueGreen, blueGreen);
  most.red = _mm256_max_epu16(most.red, red);

  const __m256i head = _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, k.headFromBlueGreen),
                                       _mm256_shuffle_epi8(red, k.headFromRed));
  const __m256i tail = _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, k.tailFromBlueGreen),
                                       _mm256_shuffle_epi8(red, k.tailFromRed));
  // Each 128-bit lane holds 8 pixels: 16 bytes in `head`, 8 in `tail`.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(head));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm256_castsi256_si128(tail));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + secondHalf), _mm256_extracti128_si256(head, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + secondHalf + 16),
                   _mm256_extracti128_si256(tail, 1));
}

template <PairLayout layout>
inline void convert8Pairs(const Constants& k, __m256i p, std::uint8_t* dst, Most& most,
                          std::size_t secondHalf = 24) {
  emitPixels<layout>(k, p, chromaOf(k, p), dst, most, secondHalf);
}

// The largest of the 32 bytes of `bytes`, or `tail` when that is larger.
std::uint8_t largest(__m256i bytes, std::uint8_t tail) {
  return largestByte(
      _mm_max_epu8(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)), tail);
}

// The largest channel of `most`, or the tail's when that is larger.
std::uint8_t largest(const Most& most, std::uint8_t tail) {
  return largest(_mm256_max_epu8(most.blueGreen, _mm256_srli_epi16(most.red, 8)), tail);
}

// The bytes of `first` and `second` taken in turn, first[0] second[0] first[1] ...
inline __m256i interleaveBytes(__m128i first, __m128i second) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(first, second)),
                                 _mm_unpackhi_epi8(first, second), 1);
}

// Pairs from 16 Y bytes and 16 bytes whose words put a chroma byte before the other: each
// Y byte followed by a chroma byte, as in packed 4:2:2.
inline __m256i pairsOf(const std::uint8_t* y, __m128i chroma) {
  return interleaveBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), chroma);
}

// 16 pairs from 32 Y bytes and 32 bytes whose words put a chroma byte before the other. Byte
// unpacking works within 128-bit halves, so one vector holds pairs 0-3 and 8-11, the other
// 4-7 and 12-15: each writes its halves 48 bytes apart.
template <PairLayout layout>
inline void convert16Pairs(const Constants& k, const std::uint8_t* y, __m256i chroma,
                           std::uint8_t* dst, Most& most) {
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  convert8Pairs<layout>(k, _mm256_unpacklo_epi8(luma, chroma), dst, most, 48);
  convert8Pairs<layout>(k, _mm256_unpackhi_epi8(luma, chroma), dst + 24, most, 48);
}

// Packed 4:2:2 in `layout`; the last pairs go to the portable kernel of the same layout.
template <PairLayout layout, auto YuvKernels::*PortableRow>
std::uint8_t packed422RowAvx2(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                              std::int32_t pairs) {
  const Constants k(layout);
  Most most;
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, src += 32, dst += 48)
    convert8Pairs<layout>(k, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)), dst, most);
  const std::uint8_t tail =
      done < pairs ? (portableYuvKernels().*PortableRow)(t, src, dst, pairs - done) : 0;
  return largest(most, tail);
}

constexpr auto packedRowAvx2 = packed422RowAvx2<kYuyv, &YuvKernels::packedRow>;
constexpr auto uyvyRowAvx2 = packed422RowAvx2<kUyvy, &YuvKernels::uyvyRow>;

std::uint8_t planarRowAvx2(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                           const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs) {
  const Constants k(kYuyv);
  Most most;
  std::int32_t done = 0;
  for (; done + 16 <= pairs; done += 16, y += 32, u += 16, v += 16, dst += 96) {
    const __m256i uv = interleaveBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
    convert16Pairs<kYuyv>(k, y, uv, dst, most);
  }
  for (; done + 8 <= pairs; done += 8, y += 16, u += 8, v += 8, dst += 48) {
    const __m128i uv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)));
    convert8Pairs<kYuyv>(k, pairsOf(y, uv), dst, most);
  }
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().planarRow(t, y, u, v, dst, pairs - done) : 0;
  return largest(most, tail);
}

// The chroma order is a template argument so that the loop holds no choice.
template <PairLayout layout>
std::int32_t semiPlanarPairsAvx2(const std::uint8_t* y, const std::uint8_t* chroma,
                                 std::uint8_t* dst, std::int32_t pairs, Most& most) {
  const Constants k(layout);
  std::int32_t done = 0;
  for (; done + 16 <= pairs; done += 16, y += 32, chroma += 32, dst += 96)
    convert16Pairs<layout>(k, y, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chroma)), dst,
                           most);
  for (; done + 8 <= pairs; done += 8, y += 16, chroma += 16, dst += 48) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma));
    convert8Pairs<layout>(k, pairsOf(y, c), dst, most);
  }
  return done;
}

std::uint8_t semiPlanarRowAvx2(const YuvTables& t, const std::uint8_t* y,
                               const std::uint8_t* chroma, bool vFirst, std::uint8_t* dst,
                               std::int32_t pairs) {
  Most most;
  const std::int32_t done = vFirst ? semiPlanarPairsAvx2<kYvyu>(y, chroma, dst, pairs, most)
                                   : semiPlanarPairsAvx2<kYuyv>(y, chroma, dst, pairs, most);
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().semiPlanarRow(t, y + 2 * done, chroma + 2 * done, vFirst,
                                                        dst + 6 * done, pairs - done)
                   : 0;
  return largest(most, tail);
}

// Grey: each level once, from 16-bit words (kGreyLevel), then written three times. The bytes
// of 16 pixels' triples from their levels: the first, second and last 16.
consteval ShuffleTable greyTriples(int part) {
  return shuffleTable([part](int i) { return (16 * part + i) / 3; });
}
constexpr ShuffleTable kGreyTriples[] = {greyTriples(0), greyTriples(1), greyTriples(2)};

struct GreyConstants {
  __m256i one = _mm256_set1_epi8(1);
  // Byte weights of the words (Y, 1): (scale, add) gives scale * Y + add, (1, offset) Y + offset.
  __m256i scaled = _mm256_set1_epi16(static_cast<short>(kGreyLevel.add << 8 | kGreyLevel.scale));
  __m256i shifted = _mm256_set1_epi16(static_cast<short>((kGreyLevel.offset & 0xff) << 8 | 1));
  __m256i mul = _mm256_set1_epi16(static_cast<short>(kGreyLevel.mul));
  __m256i triples[3] = {load(kGreyTriples[0]), load(kGreyTriples[1]), load(kGreyTriples[2])};
};
static_assert(kGreyLevel.scale < 128 && kGreyLevel.add < 128 && kGreyLevel.offset >= -128,
              "the grey weights are signed bytes");

// The levels of the words (Y, 1), not yet clamped.
inline __m256i greyLevels(const GreyConstants& k, __m256i pairs) {
  const __m256i carry = _mm256_mulhi_epu16(_mm256_maddubs_epi16(pairs, k.scaled), k.mul);
  return _mm256_add_epi16(_mm256_maddubs_epi16(pairs, k.shifted), carry);
}

std::uint8_t greyRowAvx2(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                         std::int32_t pixels) {
  const GreyConstants k;
  __m256i most = _mm256_setzero_si256();
  std::int32_t done = 0;
  for (; done + 32 <= pixels; done += 32, y += 32, dst += 96) {
    const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    // Unpacking and packing both work within 128-bit halves: pixels 0-15 stay in the first.
    const __m256i levels = _mm256_packus_epi16(greyLevels(k, _mm256_unpacklo_epi8(luma, k.one)),
                                               greyLevels(k, _mm256_unpackhi_epi8(luma, k.one)));
    most = _mm256_max_epu8(most, levels);
    const __m256i first = _mm256_shuffle_epi8(levels, k.triples[0]);
    const __m256i second = _mm256_shuffle_epi8(levels, k.triples[1]);
    const __m256i last = _mm256_shuffle_epi8(levels, k.triples[2]);
    auto* out = reinterpret_cast<__m256i*>(dst);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(last, first, 0x30));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(second, last, 0x31));
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
