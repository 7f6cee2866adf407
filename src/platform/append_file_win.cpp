// Appending whole lines on Windows: a handle opened with FILE_APPEND_DATA and without
// FILE_WRITE_DATA writes at the end of the file. Not every implementation makes finding the end
// and writing there one step (Wine's does not: two writers overwrite each other's lines), so
// each line is written under an exclusive byte-range lock that every writer of ours takes.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/append_file.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

HANDLE handleOf(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

// One byte far past any real end of file, so the lock never covers data a reader wants.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// Held for one line; blocks while another writer holds it.
class LineLock {
 public:
  explicit LineLock(HANDLE file) : file_(file) {
    locked_ = ::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, region()) != FALSE;
  }
  ~LineLock() {
    if (locked_) ::UnlockFileEx(file_, 0, 1, 0, region());
  }
  LineLock(const LineLock&) = delete;
  LineLock& operator=(const LineLock&) = delete;

  bool locked() const { return locked_; }

 private:
  OVERLAPPED* region() {
    overlapped_ = OVERLAPPED{};
    overlapped_.OffsetHigh = kLockOffsetHigh;
    return &overlapped_;
  }

  HANDLE file_;
  OVERLAPPED overlapped_{};
  bool locked_ = false;
};

// Reads `size` bytes at `offset`; false on a failure or a short read.
bool readAt(HANDLE file, char* buffer, DWORD size, std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  return ::ReadFile(file, buffer, size, &got, &at) && got == size;
}

std::int64_t sizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

// A disk file whose last byte is no line feed ends in the middle of a line.
bool endsMidLine(HANDLE file) {
  if (::GetFileType(file) != FILE_TYPE_DISK) return false;
  const std::int64_t size = sizeOf(file);
  char last = '\n';
  return size > 0 && readAt(file, &last, 1, size - 1) && last != '\n';
}

// The offset just after the file's last line feed (0 when it has none); -1 on a failure.
std::int64_t afterLastLineFeed(HANDLE file) {
  char block[4096];
  for (std::int64_t end = sizeOf(file); end > 0;) {
    const auto size = static_cast<DWORD>(std::min<std::int64_t>(end, sizeof block));
    const std::int64_t start = end - size;
    if (!readAt(file, block, size, start)) return -1;
    for (DWORD i = size; i > 0; --i) {
      if (block[i - 1] == '\n') return start + i;
    }
    end = start;
  }
  return sizeOf(file) < 0 ? -1 : 0;
}

}  // namespace

void AppendFile::close() {
  if (handle_ != -1) ::CloseHandle(handleOf(std::exchange(handle_, -1)));
  tornTail_ = false;
}

// Under the line lock, as every write.
bool AppendFile::cutTornTail() {
  // The appending handle may not move the file's end: a second handle on the same file may
  // (opening the path again could meet a new file after a rotation).
  const windows::Handle file(::ReOpenFile(handleOf(handle_), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          0));
  FILE_END_OF_FILE_INFO end{};
  if (file.valid()) end.EndOfFile.QuadPart = afterLastLineFeed(file.get());
  if (!file.valid() || end.EndOfFile.QuadPart < 0 ||
      !::SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end)) {
    error_ = windows::errorText(::GetLastError());
    return false;
  }
  tornTail_ = false;
  return true;
}

bool AppendFile::reopen() {
  // Every sharing mode: the log may be renamed away (rotated) or read while we write. Not
  // inherited by programs we start (no security attributes). Read access is for the lock only.
  const HANDLE file = ::CreateFileW(windows::widen(path_).c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = windows::errorText(::GetLastError());
    return false;
  }
  close();
  handle_ = reinterpret_cast<std::intptr_t>(file);
  tornTail_ = endsMidLine(file);
  return true;
}

bool AppendFile::appendLine(std::string_view line) {
  if (!isOpen()) {
    error_ = windows::errorText(ERROR_INVALID_HANDLE);
    return false;
  }
  // Two lines in one would give a reader of the log a line it did not expect.
  if (line.find('\n') != std::string_view::npos) {
    error_ = windows::errorText(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string bytes;
  bytes.reserve(line.size() + 1);
  bytes.append(line).push_back('\n');
  const LineLock lock(handleOf(handle_));
  if (!lock.locked()) {
    error_ = windows::errorText(::GetLastError());
    return false;
  }
  if (tornTail_ && !cutTornTail()) return false;
  DWORD written = 0;
  const BOOL wrote = ::WriteFile(handleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                                 &written, nullptr);
  const DWORD error = wrote ? ERROR_DISK_FULL : ::GetLastError();
  // Writing the rest in a second call could put another writer's line into the middle of ours;
  // the piece written is taken off again.
  if (!wrote || written != bytes.size()) {
    tornTail_ = written > 0 && ::GetFileType(handleOf(handle_)) == FILE_TYPE_DISK;
    if (tornTail_) cutTornTail();
    error_ = windows::errorText(error);
    return false;
  }
  return true;
}

}  // namespace ravdel
