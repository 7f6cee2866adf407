// Reading and replacing files on Windows. Paths are UTF-8 and go to the wide functions. Files
// are opened with every sharing mode, so that a reader never keeps another program from
// renaming or deleting the file. A replacement is a move with MOVEFILE_REPLACE_EXISTING, as a
// rename does not replace an existing file here; a new file is moved without it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/files.h"
#include "platform/files_system.h"
#include "platform/windows_text.h"

namespace ravdel {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

windows::Handle openForReading(const std::string& path) {
  return windows::Handle(::CreateFileW(windows::widen(path).c_str(), GENERIC_READ, kShareAll,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool isDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(windows::widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::int64_t unixMillisecondsOf(const FILETIME& time) {
  const auto ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (ticks - 116444736000000000) / 10000;
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& bytes, std::string* why) {
  bytes.clear();
  const auto failure = [why](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return FileRead::failed;
  };
  // A directory cannot be opened without backup semantics; say what it is.
  if (isDirectory(path)) return failure(windows::errorText(ERROR_DIRECTORY));
  const windows::Handle file = openForReading(path);
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRead::missing;
    return failure(windows::errorText(error));
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return failure("not a regular file");
  char buffer[16384];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr))
      return failure(windows::errorText(::GetLastError()));
    if (n == 0) return FileRead::ok;
    bytes.append(buffer, n);
  }
}

std::optional<std::string> readFileWithTime(const std::string& path, std::size_t maxBytes,
                                            FileWithTime& out) {
  constexpr const char* kTooLarge = "too large for one camera sample";
  // A directory cannot be opened without backup semantics; say what it is.
  if (isDirectory(path)) return windows::errorText(ERROR_DIRECTORY);
  const windows::Handle file = openForReading(path);
  if (!file.valid()) return windows::errorText(::GetLastError());
  LARGE_INTEGER size{};
  FILETIME written{};
  if (::GetFileType(file.get()) == FILE_TYPE_DISK) {
    if (!::GetFileSizeEx(file.get(), &size) ||
        !::GetFileTime(file.get(), nullptr, nullptr, &written)) {
      return windows::errorText(::GetLastError());
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return kTooLarge;
    out.modifiedMs = unixMillisecondsOf(written);
  } else {
    out.modifiedMs = 0;
  }
  out.bytes.clear();
  out.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  std::uint8_t buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE) return std::nullopt;  // a pipe's writer is done
      return windows::errorText(error);
    }
    if (n == 0) return std::nullopt;
    out.bytes.insert(out.bytes.end(), buffer, buffer + n);
    if (out.bytes.size() > maxBytes) return kTooLarge;
  }
}

// Symbolic links are rare on Windows and need privileges to make: the target is replaced as
// named.
ReplacingFile::ReplacingFile(const std::string& target) : StagedFile(target) {
  create();
}

void ReplacingFile::create() {
  // Opening for writing asks the system whether we may write the file: a read-only file is
  // refused rather than replaced through its folder.
  if (isDirectory(target_)) return fail(Stage::create, ERROR_DIRECTORY);
  {
    const windows::Handle probe(::CreateFileW(windows::widen(target_).c_str(), GENERIC_WRITE,
                                              kShareAll, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = ::GetLastError();
    if (!probe.valid() && error != ERROR_FILE_NOT_FOUND) {
      return fail(Stage::create, static_cast<int>(error));
    }
  }
  createTemporary(std::nullopt);
}

// Permission bits are POSIX's; a new file here takes its folder's.
void StagedFile::createTemporary(std::optional<std::uint32_t>) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = temporaryFileName(target_);
    windows::Handle file(::CreateFileW(windows::widen(temp_).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS) continue;
      temp_.clear();
      return fail(Stage::create, static_cast<int>(error));
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_BINARY);
    if (fd < 0) return fail(Stage::create, ERROR_TOO_MANY_OPEN_FILES);
    file.release();  // the descriptor owns it now
    stream_ = ::_fdopen(fd, "wb");
    if (stream_ == nullptr) {
      ::_close(fd);
      return fail(Stage::create, ERROR_TOO_MANY_OPEN_FILES);
    }
    return;
  }
  temp_.clear();
  fail(Stage::create, ERROR_FILE_EXISTS);
}

// `errorNumber` is a system error code here.
void StagedFile::fail(Stage stage, int errorNumber) {
  if (failedAt_ != Stage::none) return;
  failedAt_ = stage;
  error_ = windows::errorText(static_cast<DWORD>(errorNumber));
}

bool StagedFile::finishWriting() {
  if (!ok()) return false;
  if (stream_ == nullptr) return true;  // written already
  // Flushed to the disk before the file gets its name: after a crash the name holds either the
  // old content (or none) or the whole new one.
  if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) fail(Stage::write, ERROR_WRITE_FAULT);
  if (ok()) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream_)));
    if (!::FlushFileBuffers(handle)) fail(Stage::write, static_cast<int>(::GetLastError()));
  }
  const int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (closed != 0) fail(Stage::write, ERROR_WRITE_FAULT);
  return ok();
}

Moved moveFile(const std::string& from, const std::string& to, bool replacing, int& error) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replacing ? MOVEFILE_REPLACE_EXISTING : 0);
  if (::MoveFileExW(windows::widen(from).c_str(), windows::widen(to).c_str(), flags))
    return Moved::done;
  const DWORD code = ::GetLastError();
  error = static_cast<int>(code);
  if (!replacing && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS))
    return Moved::taken;
  return Moved::failed;
}

bool removeFile(const std::string& path) {
  return ::DeleteFileW(windows::widen(path).c_str()) != FALSE;
}

}  // namespace ravdel
