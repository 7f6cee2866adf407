#include "base/fourcc.h"

namespace ravdel {

std::string fourccLabel(std::uint32_t code) {
  if (code == fourcc::kRgb) return "RGB";
  std::string label(4, ' ');
  for (std::size_t i = 0; i < 4; ++i)
    label[i] = static_cast<char>((code >> (8 * i)) & 0xff);
  return label;
}

std::string printableFourcc(std::uint32_t code) {
  std::string label = fourccLabel(code);
  for (char& c : label) {
    if (c < ' ' || c > '~') c = '?';
  }
  return label;
}

bool parseFourCC(const std::string& text, std::uint32_t& code) {
  if (text == "RGB" || text == "0") {
    code = fourcc::kRgb;
    return true;
  }
  if (text.size() != 4) return false;
  code = makeFourCC(text[0], text[1], text[2], text[3]);
  return true;
}

}  // namespace ravdel
