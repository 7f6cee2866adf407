#pragma once

#include <cstdint>
#include <string>

namespace ravdel {

// A format code whose four characters are its four bytes in memory order, lowest byte first.
constexpr std::uint32_t makeFourCC(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

namespace fourcc {
inline constexpr std::uint32_t kRgb = 0;  // uncompressed 24-bit, bottom row first
inline constexpr std::uint32_t kI420 = makeFourCC('I', '4', '2', '0');
inline constexpr std::uint32_t kIyuv = makeFourCC('I', 'Y', 'U', 'V');
inline constexpr std::uint32_t kYv12 = makeFourCC('Y', 'V', '1', '2');
inline constexpr std::uint32_t kYuy2 = makeFourCC('Y', 'U', 'Y', '2');
inline constexpr std::uint32_t kYunv = makeFourCC('Y', 'U', 'N', 'V');
inline constexpr std::uint32_t kYuyv = makeFourCC('Y', 'U', 'Y', 'V');
inline constexpr std::uint32_t kMjpg = makeFourCC('M', 'J', 'P', 'G');
inline constexpr std::uint32_t kNv12 =
    makeFourCC('N', 'V', '1', '2');  // I420, chroma interleaved UV
inline constexpr std::uint32_t kNv21 = makeFourCC('N', 'V', '2', '1');  // the same, VU
inline constexpr std::uint32_t kUyvy = makeFourCC('U', 'Y', 'V', 'Y');  // YUY2 as U Y0 V Y1
inline constexpr std::uint32_t kGrey = makeFourCC('G', 'R', 'E', 'Y');  // luma only
}  // namespace fourcc

// "RGB" for 0, otherwise the code's four bytes as characters, lowest byte first.
std::string fourccLabel(std::uint32_t code);

// The label for logs and messages: every byte outside ' '..'~' as '?'.
std::string printableFourcc(std::uint32_t code);

// Parses a label back ("RGB", "0" or four characters); returns false for anything else.
bool parseFourCC(const std::string& text, std::uint32_t& code);

}  // namespace ravdel
