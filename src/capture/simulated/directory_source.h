#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/simulated/sample_source.h"

namespace ravdel {

// The sample files of a directory: its regular files whose names do not start with '.', in
// name order (byte order of the names). False with a message when the directory cannot be
// read, holds no such file, or holds one too large to be a sample.
bool listSampleFiles(const std::filesystem::path& directory,
                     std::vector<std::filesystem::path>& files, std::string& error);

// A JPEG file: named .jpg or .jpeg (any letter case), or starting with the bytes FF D8.
bool isJpegFile(const std::filesystem::path& file);

// The whole file; false when it cannot be read or is too large to be one sample.
bool readSampleFile(const std::filesystem::path& file, std::vector<std::uint8_t>& bytes);

// Samples read from files, one file per frame, each delivered as it is whatever the stream's
// format (a file of the wrong size shows the program's notice). The position is kept across
// stops and format switches. A file that cannot be read any more gives a sample of no bytes.
class DirectorySource final : public SampleSource {
 public:
  DirectorySource(std::vector<std::filesystem::path> files, bool once);

  void start(const StreamFormat&) override {}
  bool next(std::span<const std::uint8_t>& sample, const FrameMoment& moment) override;

 private:
  const std::vector<std::filesystem::path> files_;
  const bool once_;
  std::size_t position_ = 0;  // the file to read next
  std::vector<std::uint8_t> bytes_;
};

}  // namespace ravdel
