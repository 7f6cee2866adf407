#include "base/json_text.h"

#include <charconv>

#include "base/utf8_text.h"

namespace ravdel {
namespace {

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
