#include "detection/png_writer.h"

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <png.h>
#include <zlib.h>
// clang-format on

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/files.h"

namespace ravdel {
namespace {

std::string fullPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(pathFromUtf8(path), ec);
  return ec ? path : utf8FromPath(absolute.lexically_normal());
}

[[noreturn]] void failWith(const char* what, const std::string& path, const std::string& reason) {
  throw ImageWriteError(std::string(what) + " \"" + fullPath(path) + "\". " + reason);
}

[[noreturn]] void fail(const char* what, const std::string& path, int error) {
  failWith(what, path, std::strerror(error));
}

struct PngErrorState {
  std::jmp_buf jump;
  char message[256];
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  std::longjmp(state->jump, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Owns the libpng write structures.
class PngEncoder {
 public:
  explicit PngEncoder(PngErrorState& errors) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, onPngWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  PngEncoder(const PngEncoder&) = delete;
  PngEncoder& operator=(const PngEncoder&) = delete;
  ~PngEncoder() { png_destroy_write_struct(&png_, &info_); }
  bool valid() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// Deflated size of some rows, each led by its filter byte as in the image data.
uLong deflatedSize(const FrameBitmap& bitmap, std::int32_t firstRow, std::int32_t rows,
                   int strategy) {
  z_stream z{};
  if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, strategy) != Z_OK) return ~uLong{0};
  std::vector<Bytef> out(
      deflateBound(&z, static_cast<uLong>((bitmap.stride() + 1) * static_cast<std::size_t>(rows))));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  Bytef filterNone = 0;
  for (std::int32_t y = firstRow; y < firstRow + rows; ++y) {
    z.next_in = &filterNone;
    z.avail_in = 1;
    deflate(&z, Z_NO_FLUSH);
    z.next_in = const_cast<Bytef*>(bitmap.row(y));
    z.avail_in = static_cast<uInt>(bitmap.stride());
    deflate(&z, Z_NO_FLUSH);
  }
  deflate(&z, Z_FINISH);
  const uLong size = z.total_out;
  deflateEnd(&z);
  return size;
}

// Sensor noise with a skewed distribution packs best with Huffman codes alone; pictures
// with repeats (flat areas, decoded JPEG blocks) need string matching. A band of rows from
// the middle of the picture decides.
int fastStrategy(const FrameBitmap& bitmap) {
  const std::int32_t rows = std::min<std::int32_t>(bitmap.height(), 24);
  const std::int32_t first = (bitmap.height() - rows) / 2;
  return deflatedSize(bitmap, first, rows, Z_HUFFMAN_ONLY) <=
                 deflatedSize(bitmap, first, rows, Z_DEFAULT_STRATEGY)
             ? Z_HUFFMAN_ONLY
             : Z_DEFAULT_STRATEGY;
}

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// The one place libpng may jump out of; it keeps no objects with destructors of its own. The
// output is a file, or else `memory`.
bool encode(PngEncoder& encoder, PngErrorState& errors, std::FILE* out, const FrameBitmap& bitmap,
            const PngSettings& settings, std::vector<std::uint8_t>* memory = nullptr) {
  png_structp png = encoder.png();
  png_infop info = encoder.info();
  if (setjmp(errors.jump) != 0) return false;
  if (memory != nullptr) {
    png_set_write_fn(png, memory, appendToVector, flushNothing);
  } else {
    png_init_io(png, out);
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width()),
               static_cast<png_uint_32>(bitmap.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!settings.libpngDefaults) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, fastStrategy(bitmap));
  }
  png_set_compression_buffer_size(png, 1 << 18);
  png_write_info(png, info);
  png_set_bgr(png);
  for (std::int32_t y = 0; y < bitmap.height(); ++y)
    png_write_row(png, bitmap.row(y));
  png_write_end(png, nullptr);
  return true;
}

// Encodes `bitmap` into the staged file, which is to be named `path`; throws on a failure.
void encodeInto(StagedFile& file, const FrameBitmap& bitmap, const std::string& path,
                const PngSettings& settings) {
  if (!file.ok()) failWith("Cannot create file", path, file.error());
  PngErrorState errors{};
  PngEncoder encoder(errors);
  if (!encoder.valid()) fail("Cannot write file", path, ENOMEM);
  if (!encode(encoder, errors, file.stream(), bitmap, settings)) {
    const int error = std::ferror(file.stream()) != 0 ? errno : 0;
    if (error != 0) fail("Cannot write file", path, error);
    failWith("Cannot write file", path, errors.message);
  }
}

[[noreturn]] void failToPlace(const StagedFile& file, const std::string& path) {
  const bool writing = file.failedAt() == StagedFile::Stage::write;
  failWith(writing ? "Cannot write file" : "Cannot create file", path, file.error());
}

void refuseEmpty(const FrameBitmap& bitmap, const std::string& path) {
  if (bitmap.empty()) failWith("Cannot write file", path, "The picture is empty");
}

}  // namespace

std::vector<std::uint8_t> encodePng(const FrameBitmap& bitmap, const PngSettings& settings) {
  std::vector<std::uint8_t> bytes;
  if (bitmap.empty()) return bytes;
  PngErrorState errors{};
  PngEncoder encoder(errors);
  if (!encoder.valid() || !encode(encoder, errors, nullptr, bitmap, settings, &bytes))
    bytes.clear();
  return bytes;
}

void writePng(const FrameBitmap& bitmap, const std::string& path, const PngSettings& settings) {
  refuseEmpty(bitmap, path);
  ReplacingFile file(path);
  encodeInto(file, bitmap, path, settings);
  if (!file.commit()) failToPlace(file, path);
}

int writeNewPng(const FrameBitmap& bitmap, const std::function<std::string(int)>& pathFor,
                int names, const PngSettings& settings) {
  const std::string first = pathFor(0);
  refuseEmpty(bitmap, first);
  NewFile file(first);
  encodeInto(file, bitmap, first, settings);
  for (int i = 0; i < names; ++i) {
    const std::string path = i == 0 ? first : pathFor(i);
    switch (file.commitAs(path)) {
      case NewFile::Placed::done:
        return i;
      case NewFile::Placed::taken:
        continue;
      case NewFile::Placed::failed:
        failToPlace(file, path);
    }
  }
  failWith("Cannot create file", first,
           "Every name up to \"" + utf8FromPath(pathFromUtf8(pathFor(names - 1)).filename()) +
               "\" is taken");
}

}  // namespace ravdel
