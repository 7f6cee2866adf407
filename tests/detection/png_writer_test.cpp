#include "detection/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;

class PngWriterTest : public test::TempDirTest {
 protected:
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    return names;
  }
};

FrameBitmap noisyFrame(std::int32_t w, std::int32_t h) {
  FrameBitmap f(w, h);
  std::mt19937 rng(1);
  for (std::size_t i = 0; i < f.byteCount(); ++i)
    f.data()[i] = static_cast<std::uint8_t>(rng() % 16);
  f.row(h / 2)[9] = 250;
  return f;
}

// The full path in quotes, then the system's reason ("No such file or directory" here, its own
// words on Windows).
void expectCannotCreate(const std::string& message, const fs::path& path) {
  const std::string start = "Cannot create file \"" + path.lexically_normal().string() + "\". ";
  EXPECT_EQ(message.substr(0, start.size()), start);
  EXPECT_GT(message.size(), start.size()) << "no reason given: " << message;
}

struct DecodedPng {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0, interlace = 0;
  std::vector<std::uint8_t> rgb;
};

DecodedPng decode(const fs::path& path) {
  DecodedPng out;
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  if (f == nullptr) return out;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_read_info(png, info);
  png_get_IHDR(png, info, &out.width, &out.height, &out.bitDepth, &out.colourType, &out.interlace,
               nullptr, nullptr);
  out.rgb.resize(std::size_t{out.width} * out.height * 3);
  for (png_uint_32 y = 0; y < out.height; ++y) {
    png_read_row(png, out.rgb.data() + std::size_t{y} * out.width * 3, nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return out;
}

std::vector<std::string> chunkTypes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> types;
  for (std::size_t pos = 8; pos + 8 <= bytes.size();) {
    const std::uint32_t length = (std::uint32_t{static_cast<std::uint8_t>(bytes[pos])} << 24) |
                                 (std::uint32_t{static_cast<std::uint8_t>(bytes[pos + 1])} << 16) |
                                 (std::uint32_t{static_cast<std::uint8_t>(bytes[pos + 2])} << 8) |
                                 std::uint32_t{static_cast<std::uint8_t>(bytes[pos + 3])};
    const std::string type(bytes.data() + pos + 4, 4);
    if (types.empty() || types.back() != type) types.push_back(type);
    pos += 12 + length;
  }
  return types;
}

TEST_F(PngWriterTest, WritesExactlyThePixelsAsTruecolour) {
  for (const PngSettings& settings : {PngSettings{}, PngSettings{true}}) {
    const FrameBitmap frame = noisyFrame(37, 23);  // a row of 111 bytes: no padding assumed
    const fs::path path = dir_ / "150314092653123.png";
    writePng(frame, path.string(), settings);
    const DecodedPng png = decode(path);
    ASSERT_EQ(png.width, 37u);
    ASSERT_EQ(png.height, 23u);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(png.interlace, PNG_INTERLACE_NONE);
    for (std::int32_t y = 0; y < 23; ++y) {
      for (std::int32_t x = 0; x < 37; ++x) {
        const std::uint8_t* bgr = frame.row(y) + 3 * x;
        const std::uint8_t* rgb =
            png.rgb.data() + (static_cast<std::size_t>(y) * 37 + static_cast<std::size_t>(x)) * 3;
        ASSERT_EQ(rgb[0], bgr[2]);
        ASSERT_EQ(rgb[1], bgr[1]);
        ASSERT_EQ(rgb[2], bgr[0]);
      }
    }
    EXPECT_EQ(chunkTypes(path), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(entries(), std::vector<std::string>{"150314092653123.png"}) << "no temporary left";
  }
}

TEST_F(PngWriterTest, ReplacesAnExistingFile) {
  const fs::path path = dir_ / "same.png";
  std::ofstream(path) << "old content";
  writePng(noisyFrame(8, 8), path.string());
  EXPECT_EQ(decode(path).width, 8u);
}

TEST_F(PngWriterTest, MissingDirectoryNamesTheFullPathAndTheReason) {
  const fs::path path = dir_ / "missing" / "1.png";
  try {
    writePng(noisyFrame(4, 4), path.string());
    FAIL() << "no error";
  } catch (const ImageWriteError& e) {
    expectCannotCreate(e.what(), path);
  }
}

TEST_F(PngWriterTest, RelativePathIsReportedInFull) {
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  std::string message;
  try {
    writePng(noisyFrame(4, 4), "nowhere/2.png");
  } catch (const ImageWriteError& e) {
    message = e.what();
  }
  fs::current_path(cwd);
  expectCannotCreate(message, dir_ / "nowhere" / "2.png");
}

TEST_F(PngWriterTest, EmptyPictureIsAnError) {
  EXPECT_THROW(writePng(FrameBitmap(), (dir_ / "e.png").string()), ImageWriteError);
  EXPECT_TRUE(entries().empty());
}

}  // namespace
}  // namespace ravdel
