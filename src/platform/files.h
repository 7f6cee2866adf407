#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravdel {

// UTF-8 text to a path and back. Our paths are UTF-8 text everywhere; std::filesystem's own
// conversions of narrow text use the system's code page on Windows instead.
inline std::filesystem::path pathFromUtf8(std::string_view text) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}
inline std::string utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

enum class FileRead { ok, missing, failed };

// The whole content of a regular file. `missing` when neither it nor its folder exists;
// `failed` when it exists but cannot be read or is no regular file (a directory, a FIFO).
FileRead readWholeFile(const std::string& path, std::string& bytes);

struct FileWithTime {
  std::vector<std::uint8_t> bytes;
  std::int64_t modifiedMs = 0;  // last modification, milliseconds since the epoch
};

// Reads a whole file (a device or a pipe too) of at most `maxBytes` bytes, with its
// modification time. On failure returns the reason: the system's, or "too large for one
// camera sample".
std::optional<std::string> readFileWithTime(const std::string& path, std::size_t maxBytes,
                                            FileWithTime& out);

// A file written under a temporary name beside its target and put in the target's place by
// commit(), so a failed write leaves the old file (or none) whole and a crash leaves no half
// file under the target's name. A symlink keeps pointing at the file it named, an existing
// file keeps its permissions, and a file we may not write is refused. Does not create
// folders. One thread; move-only in spirit, so neither copied nor moved.
class ReplacingFile {
 public:
  enum class Stage { none, create, write, commit };

  // Creates the temporary file; ok() says whether that worked.
  explicit ReplacingFile(const std::string& target);
  // Removes the temporary file unless commit() succeeded.
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool ok() const { return failedAt_ == Stage::none; }
  // Where the content goes until commit(); nullptr when the file could not be created.
  std::FILE* stream() const { return stream_; }
  // Flushes the content to the disk and renames the file over the target.
  bool commit();

  // The stage and the system's description of the first failure.
  Stage failedAt() const { return failedAt_; }
  const std::string& error() const { return error_; }

 private:
  void create();
  void fail(Stage stage, int errorNumber);

  std::string target_;
  std::string temp_;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
  Stage failedAt_ = Stage::none;
  std::string error_;
};

// Replaces the file's content at once through a ReplacingFile.
bool replaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace ravdel
