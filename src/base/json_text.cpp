#include "base/json_text.h"

#include <charconv>
#include <cstdint>

namespace ravdel {
namespace {

// The length of the UTF-8 sequence `text` starts with, or 0 when it starts with none: a stray
// continuation byte, a cut-off sequence, an overlong form, a surrogate or a code point past
// U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
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

void appendAsciiEscaped(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      if (c >= 0x20 && c != 0x7f) {
        out += static_cast<char>(c);
        return;
      }
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
  }
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    const auto first = static_cast<unsigned char>(text[0]);
    std::size_t used = 1;
    if (first < 0x80) {
      appendAsciiEscaped(out, first);
    } else if (const std::size_t length = utf8SequenceLength(text); length > 0) {
      out.append(text.substr(0, length));
      used = length;
    } else {
      out += "\\ufffd";
    }
    text.remove_prefix(used);
  }
  out += '"';
}

std::string jsonNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string jsonFixedNumber(double value, int decimals) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return std::string(buffer, result.ptr);
}

}  // namespace ravdel
