// Peak-search row kernel with NEON (Advanced SIMD of 64-bit ARM), 16 pixels per step.
#if defined(__aarch64__)

#include <arm_neon.h>

#include "detection/peak_kernels_simd.h"

namespace ravdel {
namespace {

// B*B + G*G + R*R of 16 pixels, each at most 195075, folded into `best` lane by lane.
uint32x4_t foldStep(const std::uint8_t* p, uint32x4_t best) {
  const uint8x16x3_t px = vld3q_u8(p);
  const uint16x8_t bLow = vmull_u8(vget_low_u8(px.val[0]), vget_low_u8(px.val[0]));
  const uint16x8_t gLow = vmull_u8(vget_low_u8(px.val[1]), vget_low_u8(px.val[1]));
  const uint16x8_t rLow = vmull_u8(vget_low_u8(px.val[2]), vget_low_u8(px.val[2]));
  const uint16x8_t bHigh = vmull_high_u8(px.val[0], px.val[0]);
  const uint16x8_t gHigh = vmull_high_u8(px.val[1], px.val[1]);
  const uint16x8_t rHigh = vmull_high_u8(px.val[2], px.val[2]);
  const uint32x4_t s0 =
      vaddw_u16(vaddl_u16(vget_low_u16(bLow), vget_low_u16(gLow)), vget_low_u16(rLow));
  const uint32x4_t s1 = vaddw_high_u16(vaddl_high_u16(bLow, gLow), rLow);
  const uint32x4_t s2 =
      vaddw_u16(vaddl_u16(vget_low_u16(bHigh), vget_low_u16(gHigh)), vget_low_u16(rHigh));
  const uint32x4_t s3 = vaddw_high_u16(vaddl_high_u16(bHigh, gHigh), rHigh);
  return vmaxq_u32(best, vmaxq_u32(vmaxq_u32(s0, s1), vmaxq_u32(s2, s3)));
}

std::uint32_t rowMaxNeon(const std::uint8_t* row, std::int32_t width) {
  if (width < 16) return portablePeakKernels().rowMaxSumOfSquares(row, width);
  uint32x4_t best = vdupq_n_u32(0);
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16)
    best = foldStep(row + 3 * x, best);
  // The last pixels again with the final step's overlap: the maximum does not mind.
  if (x < width) best = foldStep(row + 3 * (width - 16), best);
  return vmaxvq_u32(best);
}

}  // namespace

extern const PeakKernels kPeakKernelsNeon{"neon", rowMaxNeon};

}  // namespace ravdel

#endif  // defined(__aarch64__)
