// YUV row kernels with NEON (Advanced SIMD of 64-bit ARM), 8 pixel pairs per step. Every
// 64-bit ARM processor has these instructions, so the source is built like the rest; the
// dispatch still names them, so that RAVDEL_PORTABLE_KERNELS can turn them off.
//
// The arithmetic is the x86 kernels': per pair, 256 * the chroma table entry (here with the
// luma's rounding add in its low byte); per pixel, 76309 * Y; the channel is the high half of their
// sum, which vaddhn gives in one instruction, clamped to 0..255 by a saturating narrow. Grey
// takes a shorter way: one level a pixel in 16-bit words (kGreyLevel), stored three times.
#if defined(__aarch64__)

#include <arm_neon.h>

#include "convert/yuv_kernels_simd.h"

namespace ravdel {
namespace {

static_assert(kTermY.shift == 8, "luma + 256 * chroma is taken in one shift by 16");

// 8 pixel pairs, split into their bytes.
struct Pairs {
  uint8x8_t y0, y1, u, v;
};

// 256 times each pair's table entries, with the luma's rounding add in the low byte; the first
// four pairs in `low`, the last four in `high`.
struct ChromaSums {
  int32x4_t blueLow, blueHigh, greenLow, greenHigh, redLow, redHigh;
};

// mul * c + add of four chroma bytes (zero-extended): the table entry is this >> 10.
template <const ExactTableTerm& term>
[[gnu::always_inline]] inline int32x4_t termSum(uint32x4_t c) {
  static_assert(term.shift == 10, "the chroma terms shift by 10");
  return vmlaq_n_s32(vdupq_n_s32(term.add), vreinterpretq_s32_u32(c), term.mul);
}

template <const ExactTableTerm& term>
[[gnu::always_inline]] inline int32x4_t entry(uint32x4_t c) {
  return vshrq_n_s32(termSum<term>(c), 10);
}

// entry * 256 + the luma's rounding add (below 256, so it fills the low byte).
[[gnu::always_inline]] inline int32x4_t scaled(int32x4_t tableEntry) {
  return vsliq_n_s32(vdupq_n_s32(kTermY.add), tableEntry, 8);
}

// The same from the term's sum in one step less: sum >> 2 with the low byte replaced.
template <const ExactTableTerm& term>
[[gnu::always_inline]] inline int32x4_t scaledEntry(uint32x4_t c) {
  return vbslq_s32(vdupq_n_u32(~0xffu), vshrq_n_s32(termSum<term>(c), 2), vdupq_n_s32(kTermY.add));
}

[[gnu::always_inline]] inline ChromaSums chromaOf(uint8x8_t u, uint8x8_t v) {
  const uint16x8_t u16 = vmovl_u8(u);
  const uint16x8_t v16 = vmovl_u8(v);
  const uint32x4_t uLow = vmovl_u16(vget_low_u16(u16));
  const uint32x4_t uHigh = vmovl_high_u16(u16);
  const uint32x4_t vLow = vmovl_u16(vget_low_u16(v16));
  const uint32x4_t vHigh = vmovl_high_u16(v16);
  return {scaledEntry<kTermUB>(uLow),
          scaledEntry<kTermUB>(uHigh),
          scaled(vaddq_s32(entry<kTermUG>(uLow), entry<kTermVG>(vLow))),
          scaled(vaddq_s32(entry<kTermUG>(uHigh), entry<kTermVG>(vHigh))),
          scaledEntry<kTermVR>(vLow),
          scaledEntry<kTermVR>(vHigh)};
}

// 76309 * Y of 8 pixels (the luma factor is 65536 + 10773), four per vector.
struct Luma {
  int32x4_t low, high;
};

[[gnu::always_inline]] inline Luma lumaOf(uint8x8_t y) {
  constexpr std::uint16_t kRest = kTermY.mul - 65536;
  const uint16x8_t y16 = vmovl_u8(y);
  const uint32x4_t low = vmlal_n_u16(vshll_n_u16(vget_low_u16(y16), 16), vget_low_u16(y16), kRest);
  const uint32x4_t high = vmlal_high_n_u16(vshll_high_n_u16(y16, 16), y16, kRest);
  return {vreinterpretq_s32_u32(low), vreinterpretq_s32_u32(high)};
}

// The high halves of luma + chroma of 8 pixels.
[[gnu::always_inline]] inline int16x8_t channelSums(const Luma& y, int32x4_t chromaLow,
                                                    int32x4_t chromaHigh) {
  return vaddhn_high_s32(vaddhn_s32(y.low, chromaLow), y.high, chromaHigh);
}

// One channel of the even and the odd pixels, clamped to 0..255: the 8 even pixels, then the
// 8 odd ones.
[[gnu::always_inline]] inline uint8x16_t channel(const Luma& even, const Luma& odd,
                                                 int32x4_t chromaLow, int32x4_t chromaHigh) {
  return vqmovun_high_s16(vqmovun_s16(channelSums(even, chromaLow, chromaHigh)),
                          channelSums(odd, chromaLow, chromaHigh));
}

// A channel in pixel order.
[[gnu::always_inline]] inline uint8x16_t pixelOrder(uint8x16_t evenThenOdd) {
  static constexpr std::uint8_t kPixelOrder[16] = {0, 8,  1, 9,  2, 10, 3, 11,
                                                   4, 12, 5, 13, 6, 14, 7, 15};
  return vqtbl1q_u8(evenThenOdd, vld1q_u8(kPixelOrder));
}

// 16 pixels from 8 pairs with their chroma `c`; writes 48 bytes and raises `most` to their
// largest channel (in some byte).
[[gnu::always_inline]] inline void emitPixels(uint8x8_t y0, uint8x8_t y1, const ChromaSums& c,
                                              std::uint8_t* dst, uint8x16_t& most) {
  const Luma even = lumaOf(y0);
  const Luma odd = lumaOf(y1);
  const uint8x16_t blue = channel(even, odd, c.blueLow, c.blueHigh);
  const uint8x16_t green = channel(even, odd, c.greenLow, c.greenHigh);
  const uint8x16_t red = channel(even, odd, c.redLow, c.redHigh);
  // The largest channel needs no pixel order: taken before the reordering, it leaves the
  // reordered channels to the store alone.
  most = vmaxq_u8(most, vmaxq_u8(blue, vmaxq_u8(green, red)));
  vst3q_u8(dst, {{pixelOrder(blue), pixelOrder(green), pixelOrder(red)}});
}

[[gnu::always_inline]] inline void convert8Pairs(const Pairs& p, std::uint8_t* dst,
                                                 uint8x16_t& most) {
  emitPixels(p.y0, p.y1, chromaOf(p.u, p.v), dst, most);
}

// The largest channel of the vector part, or of the tail when that is larger.
std::uint8_t largest(uint8x16_t most, std::uint8_t tail) {
  const std::uint8_t lanes = vmaxvq_u8(most);
  return lanes > tail ? lanes : tail;
}

// Packed 4:2:2; the byte numbers say where Y0, U, Y1 and V sit in a pair. The last pairs go
// to the portable kernel of the same layout.
template <int y0Byte, int uByte, int y1Byte, int vByte, auto YuvKernels::*PortableRow>
std::uint8_t packed422RowNeon(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                              std::int32_t pairs) {
  uint8x16_t most = vdupq_n_u8(0);
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, src += 32, dst += 48) {
    const uint8x8x4_t b = vld4_u8(src);
    convert8Pairs({b.val[y0Byte], b.val[y1Byte], b.val[uByte], b.val[vByte]}, dst, most);
  }
  const std::uint8_t tail =
      done < pairs ? (portableYuvKernels().*PortableRow)(t, src, dst, pairs - done) : 0;
  return largest(most, tail);
}

constexpr auto packedRowNeon = packed422RowNeon<0, 1, 2, 3, &YuvKernels::packedRow>;  // Y0 U Y1 V
constexpr auto uyvyRowNeon = packed422RowNeon<1, 0, 3, 2, &YuvKernels::uyvyRow>;      // U Y0 V Y1

std::uint8_t planarRowNeon(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                           const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs) {
  uint8x16_t most = vdupq_n_u8(0);
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, y += 16, u += 8, v += 8, dst += 48) {
    const uint8x8x2_t luma = vld2_u8(y);
    convert8Pairs({luma.val[0], luma.val[1], vld1_u8(u), vld1_u8(v)}, dst, most);
  }
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().planarRow(t, y, u, v, dst, pairs - done) : 0;
  return largest(most, tail);
}

std::uint8_t semiPlanarRowNeon(const YuvTables& t, const std::uint8_t* y,
                               const std::uint8_t* chroma, bool vFirst, std::uint8_t* dst,
                               std::int32_t pairs) {
  const int uAt = vFirst ? 1 : 0;
  uint8x16_t most = vdupq_n_u8(0);
  std::int32_t done = 0;
  for (; done + 8 <= pairs; done += 8, y += 16, chroma += 16, dst += 48) {
    const uint8x8x2_t luma = vld2_u8(y);
    const uint8x8x2_t c = vld2_u8(chroma);
    convert8Pairs({luma.val[0], luma.val[1], c.val[uAt], c.val[1 - uAt]}, dst, most);
  }
  const std::uint8_t tail =
      done < pairs ? portableYuvKernels().semiPlanarRow(t, y, chroma, vFirst, dst, pairs - done)
                   : 0;
  return largest(most, tail);
}

// Grey: each level once, from 16-bit words (kGreyLevel), then written three times.
static_assert(kGreyLevel.mul % 2 == 0 && kGreyLevel.mul / 2 <= 0x7fff && kGreyLevel.scale == 4,
              "vqdmulh doubles its product; vshll makes 4 * Y");

// The levels of 8 pixels, not yet clamped.
[[gnu::always_inline]] inline int16x8_t greyLevels(uint8x8_t y) {
  const uint16x8_t scaled = vaddq_u16(vshll_n_u8(y, 2), vdupq_n_u16(kGreyLevel.add));
  const int16x8_t carry = vqdmulhq_n_s16(vreinterpretq_s16_u16(scaled), kGreyLevel.mul / 2);
  const uint16x8_t shifted =
      vaddw_u8(vdupq_n_u16(static_cast<std::uint16_t>(kGreyLevel.offset)), y);
  return vaddq_s16(vreinterpretq_s16_u16(shifted), carry);
}

std::uint8_t greyRowNeon(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                         std::int32_t pixels) {
  uint8x16_t most = vdupq_n_u8(0);
  std::int32_t done = 0;
  for (; done + 16 <= pixels; done += 16, y += 16, dst += 48) {
    const uint8x16_t luma = vld1q_u8(y);
    const uint8x16_t levels = vqmovun_high_s16(vqmovun_s16(greyLevels(vget_low_u8(luma))),
                                               greyLevels(vget_high_u8(luma)));
    most = vmaxq_u8(most, levels);
    vst3q_u8(dst, {{levels, levels, levels}});
  }
  const std::uint8_t tail =
      done < pixels ? portableYuvKernels().greyRow(t, y, dst, pixels - done) : 0;
  return largest(most, tail);
}

}  // namespace

extern const YuvKernels kYuvKernelsNeon{"neon",        packedRowNeon,     uyvyRowNeon,
                                        planarRowNeon, semiPlanarRowNeon, greyRowNeon};

}  // namespace ravdel

#endif  // defined(__aarch64__)
