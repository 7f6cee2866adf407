#include "base/utf8_text.h"

#include <cstdint>

namespace ravdel {

std::size_t utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t codePoint = 0, least = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, codePoint = lead & 0x1fu, least = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, codePoint = lead & 0x0fu, least = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, codePoint = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xc0u) != 0x80u) return 0;
    codePoint = codePoint << 6 | (next & 0x3fu);
  }
  const bool surrogate = codePoint >= 0xd800 && codePoint <= 0xdfff;
  return codePoint >= least && codePoint <= 0x10ffff && !surrogate ? length : 0;
}

bool isUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = utf8SequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

std::string cutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  // Back to the first byte of the character that does not fit.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return std::string(text.substr(0, end));
}

}  // namespace ravdel
