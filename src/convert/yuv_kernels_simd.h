#pragma once

#include <array>
#include <cstddef>
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

// Neutral chroma gives every channel the same table entry, so a grey pixel has one level.
inline constexpr std::int32_t kNeutralEntry = kTermUB.entry(kNeutralChroma);
static_assert(kTermVR.entry(kNeutralChroma) == kNeutralEntry &&
                  kTermUG.entry(kNeutralChroma) + kTermVG.entry(kNeutralChroma) == kNeutralEntry,
              "neutral chroma leaves a pixel grey");

// A grey pixel's level in 16-bit arithmetic: Y + offset + ((scale * Y + add) * mul >> 16),
// clamped to 0..255. The luma entry is 256 * Y + floor((10773 * Y + 125) / 256); with the
// neutral entry 256 * q + r (q = -19, r = 95) the level is Y + q + floor((10773 * Y + 125 +
// 256 * r) / 65536), and the multiply's high half is that last term for every byte (checked
// below). Found by search; the vector kernels take it, the tests compare every Y.
struct GreyLevelTerm {
  std::int32_t scale;
  std::int32_t add;
  std::int32_t mul;
  std::int32_t offset;

  constexpr std::int32_t carry(int y) const { return ((scale * y + add) * mul) >> 16; }
};
inline constexpr GreyLevelTerm kGreyLevel{4, 9, 2694, kNeutralEntry >> 8};

consteval bool greyCarryIsExact() {
  const std::int32_t r = kNeutralEntry & 0xff;
  for (int y = 0; y < 256; ++y) {
    const std::int32_t carry = ((kTermY.mul - 65536) * y + kTermY.add + 256 * r) >> 16;
    if (kGreyLevel.carry(y) != carry || kGreyLevel.scale * y + kGreyLevel.add > 0xffff)
      return false;
  }
  return true;
}
static_assert(kTermY.shift == 8 && kTermY.mul > 65536 && kTermY.mul < 2 * 65536 &&
                  greyCarryIsExact(),
              "the grey level's multiply gives the luma's carry into the level");

// A chroma term as the x86 kernels take it: the dot product of the word pair
// (c, 256 * (c - 128)) with the words (low, high), low + 256 * high = mul, is mul * c -
// 32768 * high, so the add takes 32768 * high more. Worked out at compile time only, so that
// nothing of it is compiled into the kernels' sources.
struct WordPairTerm {
  std::int32_t words;  // high in the high word, low in the low one
  std::int32_t add;
};

consteval WordPairTerm wordPairTerm(const ExactTableTerm& term) {
  const std::int32_t high = (term.mul + 128) >> 8;
  const std::int32_t low = term.mul - 256 * high;
  return {static_cast<std::int32_t>(static_cast<std::uint32_t>(high) << 16 |
                                    (static_cast<std::uint32_t>(low) & 0xffff)),
          term.add + 32768 * high};
}

inline constexpr WordPairTerm kWordsUG = wordPairTerm(kTermUG);
inline constexpr WordPairTerm kWordsUB = wordPairTerm(kTermUB);
inline constexpr WordPairTerm kWordsVR = wordPairTerm(kTermVR);
inline constexpr WordPairTerm kWordsVG = wordPairTerm(kTermVG);

#if defined(__x86_64__)
// The x86 kernels' byte shuffle and permute tables: byte i is at(i).
template <std::size_t N, typename ByteAt>
consteval std::array<std::uint8_t, N> byteTable(ByteAt at) {
  std::array<std::uint8_t, N> t{};
  for (std::size_t i = 0; i < N; ++i)
    t[i] = static_cast<std::uint8_t>(at(static_cast<int>(i)));
  return t;
}

// The index of an in-lane byte shuffle that gives 0.
inline constexpr std::uint8_t kZeroByte = 0x80;

// The in-lane byte shuffle that makes the chroma byte at `at` of each 32-bit lane the bytes
// (c, 0, 0, c); flipping the top bit of the last then gives the words (c, 256 * (c - 128)).
template <std::size_t N>
consteval std::array<std::uint8_t, N> chromaWordsShuffle(int at) {
  return byteTable<N>([at](int i) {
    const int inLane = i % 16;
    return inLane % 4 == 0 || inLane % 4 == 3 ? (inLane & ~3) + at : kZeroByte;
  });
}
#endif

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
