// Appending whole lines on Windows: a handle opened with FILE_APPEND_DATA and without
// FILE_WRITE_DATA writes at the end of the file. Not every implementation makes finding the end
// and writing there one step (Wine's does not: two writers overwrite each other's lines), so
// each line is written under an exclusive byte-range lock that every writer of ours takes.
#include <windows.h>

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

}  // namespace

void AppendFile::close() {
  if (handle_ != -1) ::CloseHandle(handleOf(std::exchange(handle_, -1)));
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
  DWORD written = 0;
  if (!::WriteFile(handleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
    error_ = windows::errorText(::GetLastError());
    return false;
  }
  // Writing the rest in a second call could put another writer's line into the middle of ours.
  if (written != bytes.size()) {
    error_ = windows::errorText(ERROR_DISK_FULL);
    return false;
  }
  return true;
}

}  // namespace ravdel
