// Writes the program's icon file, ravdel.ico, from the same drawing as the window's icon: the
// sizes Explorer, the Start menu and the taskbar ask for, as 32-bit pictures with alpha.
// Regenerate with the ravdel-make-icon target, under Wine: wine ravdel-make-icon.exe ravdel.ico
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "app_win32/glyphs.h"

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// One icon picture: a BITMAPINFOHEADER of twice the height, the colour rows bottom first, then
// an empty AND mask (the alpha channel decides).
std::vector<std::uint8_t> entry(int size) {
  const std::vector<std::uint8_t> pixels = ravdel::glyphPixels(ravdel::Glyph::ravdel, size);
  std::vector<std::uint8_t> out;
  const auto side = static_cast<std::uint32_t>(size);
  put32(out, 40);
  put32(out, side);
  put32(out, side * 2);
  put16(out, 1);
  put16(out, 32);
  for (int i = 0; i < 6; ++i)
    put32(out, 0);
  for (int y = size - 1; y >= 0; --y) {
    const auto row = pixels.begin() + static_cast<std::ptrdiff_t>(y) * size * 4;
    out.insert(out.end(), row, row + size * 4);
  }
  const std::uint32_t maskRow = (side + 31) / 32 * 4;
  out.insert(out.end(), static_cast<std::size_t>(maskRow * side), 0);
  return out;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ravdel-make-icon FILE.ico\n");
    return 2;
  }
  const ravdel::GdiplusSession gdiplus;
  const int sizes[] = {16, 20, 24, 32, 40, 48, 64};
  std::vector<std::vector<std::uint8_t>> pictures;
  for (const int size : sizes)
    pictures.push_back(entry(size));

  std::vector<std::uint8_t> file;
  put16(file, 0);
  put16(file, 1);  // an icon
  put16(file, static_cast<std::uint32_t>(pictures.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(pictures.size());
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(0);  // no palette
    file.push_back(0);
    put16(file, 1);   // planes
    put16(file, 32);  // bits per pixel
    put32(file, static_cast<std::uint32_t>(pictures[i].size()));
    put32(file, offset);
    offset += static_cast<std::uint32_t>(pictures[i].size());
  }
  for (const auto& picture : pictures)
    file.insert(file.end(), picture.begin(), picture.end());

  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
