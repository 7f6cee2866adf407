#include "convert/yuv_tables.h"

namespace ravdel {
namespace {

// round(a * i + b) with a and b given in thousandths, exact halves to the even neighbour.
std::int32_t roundedEntry(std::int64_t aMilli, std::int64_t bMilli, int i) {
  const std::int64_t n = aMilli * i + bMilli;
  std::int64_t q = n / 1000;
  std::int64_t r = n % 1000;
  if (r < 0) {  // floor division
    q -= 1;
    r += 1000;
  }
  if (r > 500 || (r == 500 && (q & 1) != 0)) q += 1;
  return static_cast<std::int32_t>(q);
}

void fillTable(std::array<std::int32_t, 256>& table, std::int64_t aMilli, std::int64_t bMilli) {
  for (int i = 0; i < 256; ++i)
    table[static_cast<std::size_t>(i)] = roundedEntry(aMilli, bMilli, i);
}

YuvTables buildTables() {
  YuvTables t{};
  fillTable(t.y, 298082, 0);
  fillTable(t.ug, -100291, 0);
  fillTable(t.ub, 516412, -70870016);
  fillTable(t.vr, 408583, -57067776);
  fillTable(t.vg, -208120, 34707456);
  for (int i = -1023; i <= 1023; ++i) {
    t.clamp[static_cast<std::size_t>(i + 1023)] =
        static_cast<std::uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
  }
  for (int i = 0; i < 256; ++i) {
    std::array<std::uint8_t, 3> bgr{};
    yuvToBgr(t, static_cast<std::uint8_t>(i), kNeutralChroma, kNeutralChroma, bgr.data());
    t.grey[static_cast<std::size_t>(i)] = bgr[0];
  }
  return t;
}

}  // namespace

const YuvTables& yuvTables() {
  static const YuvTables tables = buildTables();
  return tables;
}

}  // namespace ravdel
