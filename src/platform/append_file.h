#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravdel {

// An event log of lines that a crash or a full disk never leaves with half a line: each line
// goes to the end of the file in one system write, and one the system cut short is taken off
// again, back to the line feed before it. Lines from several objects or processes appending to
// the same file on a local file system interleave only as whole lines. Creates the file (mode
// 0644, less the umask) but not its folder.
// Move-only; use each object on one thread.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Closes any file open here, then opens `path` for appending.
  bool open(const std::string& path);
  // Writes `line` and a line feed at the end of the file. Fails without writing when the line
  // holds a line feed of its own. A write the system cut short (a full disk) fails and leaves
  // nothing of the line; were it left, the next line would be glued onto it.
  bool appendLine(std::string_view line);
  // Opens the path again, for log rotation: the old file was renamed away and lines now go to
  // a new one under the path. When that fails the old file stays open, so lines still land
  // somewhere. A file that ends in the middle of a line (cut short before we could take the
  // piece off) gets its first line after that piece is taken off.
  bool reopen();
  void close();
  bool isOpen() const { return handle_ != -1; }

  // The system's description of the last failure; successes leave it as it was.
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  // Cuts the file back to just after its last line feed; false with error() set.
  bool cutTornTail();

  std::string path_;
  std::string error_;
  std::intptr_t handle_ = -1;  // the descriptor, or a HANDLE on Windows; -1 when closed
  bool tornTail_ = false;      // the file ends with a piece of a line, to be cut before writing
};

}  // namespace ravdel
