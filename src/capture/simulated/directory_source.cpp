#include "capture/simulated/directory_source.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "base/fourcc.h"
#include "convert/frame_converter.h"
#include "platform/files.h"

namespace ravdel {
namespace {

// The largest frame size a camera offers, and the cap of a compressed picture of it.
constexpr std::int32_t kLargestSide = 8192;
constexpr std::uint64_t kLargestCompressedBytes = 64 << 20;

std::string shown(const std::filesystem::path& path) {
  return "'" + utf8FromPath(path) + "'";
}

}  // namespace

std::uint64_t largestSampleBytes(std::uint32_t fourcc) {
  const std::int64_t raw = requiredSampleBytes(fourcc, kLargestSide, kLargestSide);
  return raw > 0 ? static_cast<std::uint64_t>(raw) : kLargestCompressedBytes;
}

bool listSampleFiles(const std::filesystem::path& directory,
                     std::vector<std::filesystem::path>& files, std::string& error) {
  std::error_code ec;
  std::filesystem::directory_iterator it(directory, ec);
  std::vector<std::filesystem::path> found;
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::filesystem::path& path = it->path();
    std::error_code typeError;
    if (utf8FromPath(path.filename()).starts_with('.') || !it->is_regular_file(typeError)) continue;
    found.push_back(path);
  }
  if (ec) {
    error = "dir: cannot read " + shown(directory) + ": " + ec.message();
    return false;
  }
  if (found.empty()) {
    error = "dir: " + shown(directory) + " holds no sample files";
    return false;
  }
  std::sort(found.begin(), found.end(),
            [](const std::filesystem::path& a, const std::filesystem::path& b) {
              return a.filename().native() < b.filename().native();
            });
  files = std::move(found);
  return true;
}

bool refuseLargeSamples(const std::vector<std::filesystem::path>& files, std::uint32_t format,
                        std::string& error) {
  const std::uint64_t most = largestSampleBytes(format);
  for (const std::filesystem::path& file : files) {
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(file, sizeError);
    if (sizeError || size <= most) continue;
    error = "dir: " + shown(file) + " is too large to be one sample: " + std::to_string(size) +
            " bytes, a " + fourccLabel(format) + " sample has at most " + std::to_string(most);
    return false;
  }
  return true;
}

bool isJpegFile(const std::filesystem::path& file) {
  std::string extension = utf8FromPath(file.extension());
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (extension == ".jpg" || extension == ".jpeg") return true;
  std::ifstream in(file, std::ios::binary);
  char start[2] = {};
  return in.read(start, 2) && static_cast<unsigned char>(start[0]) == 0xff &&
         static_cast<unsigned char>(start[1]) == 0xd8;
}

bool readSampleFile(const std::filesystem::path& file, std::uint64_t maxBytes,
                    std::vector<std::uint8_t>& bytes) {
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<std::uint64_t>(size) > maxBytes) return false;
  bytes.resize(static_cast<std::size_t>(size));
  in.seekg(0);
  return size == 0 || static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), size));
}

DirectorySource::DirectorySource(std::vector<std::filesystem::path> files, bool once)
    : files_(std::move(files)), once_(once) {}

void DirectorySource::start(const StreamFormat& format) {
  maxBytes_ = largestSampleBytes(format.fourcc);
}

bool DirectorySource::next(std::span<const std::uint8_t>& sample, const FrameMoment& /*moment*/) {
  if (files_.empty()) return false;
  if (position_ >= files_.size()) {
    position_ = 0;
    if (once_) return false;
  }
  if (!readSampleFile(files_[position_++], maxBytes_, bytes_)) bytes_.clear();
  sample = bytes_;
  return true;
}

}  // namespace ravdel
