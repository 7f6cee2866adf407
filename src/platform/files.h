#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
// `failed` when it exists but cannot be read or is no regular file (a directory, a FIFO), and
// then `why`, when given, gets the reason.
FileRead readWholeFile(const std::string& path, std::string& bytes, std::string* why = nullptr);

struct FileWithTime {
  std::vector<std::uint8_t> bytes;
  std::int64_t modifiedMs = 0;  // last modification, milliseconds since the epoch
};

// Reads a whole file (a device or a pipe too) of at most `maxBytes` bytes, with its
// modification time. On failure returns the reason: the system's, or "too large for one
// camera sample".
std::optional<std::string> readFileWithTime(const std::string& path, std::size_t maxBytes,
                                            FileWithTime& out);

// A file written under a hidden temporary name beside its target (".NAME.PID-N.tmp") and
// given its name only once it is whole, so a failed write leaves no partial file and a crash no
// half file under the target's name. Until then the temporary file goes with the object. Does
// not create folders. One thread; neither copied nor moved.
class StagedFile {
 public:
  enum class Stage { none, create, write, commit };

  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  bool ok() const { return failedAt_ == Stage::none; }
  // Where the content goes; nullptr when the file could not be created or is written already.
  std::FILE* stream() const { return stream_; }
  // The stage and the system's description of the first failure.
  Stage failedAt() const { return failedAt_; }
  const std::string& error() const { return error_; }

 protected:
  explicit StagedFile(std::string target) : target_(std::move(target)) {}
  // Removes the temporary file unless it was given its name.
  ~StagedFile();

  // Creates the temporary file beside target_; with `mode`, those permission bits (POSIX).
  void createTemporary(std::optional<std::uint32_t> mode);
  // Flushes the content to the disk and closes it, the first time; false once anything failed.
  bool finishWriting();
  // `errorNumber` is the system's code: errno, or a Windows error code.
  void fail(Stage stage, int errorNumber);

  std::string target_;
  std::string temp_;
  std::FILE* stream_ = nullptr;
  bool placed_ = false;

 private:
  Stage failedAt_ = Stage::none;
  std::string error_;
};

// A file that replaces its target at commit(). A symlink keeps pointing at the file it named,
// an existing file keeps its permissions, and a file we may not write is refused.
class ReplacingFile final : public StagedFile {
 public:
  // Creates the temporary file; ok() says whether that worked.
  explicit ReplacingFile(const std::string& target);
  // Flushes the content to the disk and renames the file over the target.
  bool commit();

 private:
  void create();
};

// A new file that never replaces another: it takes a name only where no file has it yet.
class NewFile final : public StagedFile {
 public:
  enum class Placed { done, taken, failed };

  // The temporary file is made beside `firstName`, in the folder where the file goes.
  explicit NewFile(const std::string& firstName);
  // Flushes the content to the disk (the first time) and gives the file the name `path`, in the
  // same folder. `taken` when a file has that name already: try another.
  Placed commitAs(const std::string& path);
};

// Why no file can be made in the folder `folder` (it is read-only, or no folder), or nothing
// when one can: a file is made there, and removed again, to see.
std::optional<std::string> unwritableFolderReason(const std::string& folder);

// Removes the temporary files that a StagedFile left in `folder` when its process was killed
// (the name says which process made it); those of processes still running stay. Returns how
// many went.
std::size_t removeLeftoverTemporaryFiles(const std::string& folder);

// Replaces the file's content at once through a ReplacingFile.
bool replaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace ravdel
