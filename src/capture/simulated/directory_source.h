#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/simulated/sample_source.h"

namespace ravdel {

// The largest sample a stream in this format can have: a frame of 8192x8192, the largest
// size a camera offers; for Motion-JPEG (and codes we do not convert) a fixed cap. A larger
// file is no camera's frame, and reading it would only fill the memory.
std::uint64_t largestSampleBytes(std::uint32_t fourcc);

// The sample files of a directory: its regular files whose names do not start with '.', in
// name order (byte order of the names). False with a message when the directory cannot be
// read, or holds no such file.
bool listSampleFiles(const std::filesystem::path& directory,
                     std::vector<std::filesystem::path>& files, std::string& error);
// False with a message naming the first file larger than a sample of `format` can be.
bool refuseLargeSamples(const std::vector<std::filesystem::path>& files, std::uint32_t format,
                        std::string& error);

// A JPEG file: named .jpg or .jpeg (any letter case), or starting with the bytes FF D8.
bool isJpegFile(const std::filesystem::path& file);

// The whole file; false when it cannot be read or is larger than `maxBytes`.
bool readSampleFile(const std::filesystem::path& file, std::uint64_t maxBytes,
                    std::vector<std::uint8_t>& bytes);

// Samples read from files, one file per frame, each delivered as it is whatever the stream's
// format (a file of the wrong size shows the program's notice). The position is kept across
// stops and format switches. A file that cannot be read any more, or has grown past the
// largest sample of the stream's format, gives a sample of no bytes.
class DirectorySource final : public SampleSource {
 public:
  DirectorySource(std::vector<std::filesystem::path> files, bool once);

  void start(const StreamFormat& format) override;
  bool next(std::span<const std::uint8_t>& sample, const FrameMoment& moment) override;

 private:
  const std::vector<std::filesystem::path> files_;
  const bool once_;
  std::size_t position_ = 0;  // the file to read next
  std::uint64_t maxBytes_ = 0;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace ravdel
