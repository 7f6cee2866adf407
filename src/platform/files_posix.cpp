// Reading and replacing files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "platform/files_system.h"

namespace ravdel {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// O_NONBLOCK everywhere: a FIFO in place of a file must not hang the program.
int openFile(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Renaming over a symlink would replace the link with a plain file, cutting the user's file
// off from wherever the link pointed (a dotfile repository, say).
std::string resolveSymlink(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;  // dangling: the link is replaced, as writing through it fails
  std::string resolved(real);
  std::free(real);
  return resolved;
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& bytes, std::string* why) {
  bytes.clear();
  const auto failure = [why](const char* reason) {
    if (why != nullptr) *why = reason;
    return FileRead::failed;
  };
  const int raw = openFile(path, O_RDONLY);
  if (raw < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileRead::missing;
    return failure(std::strerror(errno));
  }
  FileDescriptor fd(raw);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failure(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return failure(std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) return failure("not a regular file");
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failure(std::strerror(errno));
    }
    if (n == 0) return FileRead::ok;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> readFileWithTime(const std::string& path, std::size_t maxBytes,
                                            FileWithTime& out) {
  constexpr const char* kTooLarge = "too large for one camera sample";
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::strerror(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes) return kTooLarge;
  out.modifiedMs = std::int64_t{st.st_mtim.tv_sec} * 1000 + st.st_mtim.tv_nsec / 1000000;
  out.bytes.clear();
  out.bytes.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) return std::nullopt;
    out.bytes.insert(out.bytes.end(), buffer, buffer + n);
    if (out.bytes.size() > maxBytes) return kTooLarge;
  }
}

ReplacingFile::ReplacingFile(const std::string& target) : StagedFile(resolveSymlink(target)) {
  create();
}

void ReplacingFile::create() {
  // Opening for writing (without truncating) asks the system whether we may write the file;
  // replacing it through its folder would otherwise overrule a read-only file.
  std::optional<std::uint32_t> mode;
  if (FileDescriptor probe(openFile(target_, O_WRONLY)); probe.get() >= 0) {
    struct stat st {};
    if (::fstat(probe.get(), &st) != 0) return fail(Stage::create, errno);
    if (!S_ISREG(st.st_mode)) return fail(Stage::create, EISDIR);
    mode = st.st_mode & 0777;
  } else if (errno != ENOENT) {
    return fail(Stage::create, errno);
  }
  createTemporary(mode);
}

void StagedFile::createTemporary(std::optional<std::uint32_t> mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = temporaryFileName(target_);
    // The umask applies to a new file.
    FileDescriptor fd(openFile(temp_, O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      temp_.clear();
      return fail(Stage::create, errno);
    }
    if (mode && ::fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0)
      return fail(Stage::create, errno);
    stream_ = ::fdopen(fd.get(), "wb");
    if (stream_ == nullptr) return fail(Stage::create, errno);
    fd.release();  // the stream owns it now
    return;
  }
  temp_.clear();
  fail(Stage::create, EEXIST);
}

void StagedFile::fail(Stage stage, int errorNumber) {
  if (failedAt_ != Stage::none) return;
  failedAt_ = stage;
  error_ = std::strerror(errorNumber);
}

bool StagedFile::finishWriting() {
  if (!ok()) return false;
  if (stream_ == nullptr) return true;  // written already
  // Synced before the file gets its name: after a crash the name holds either the old content
  // (or none) or the whole new one.
  if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) fail(Stage::write, errno);
  if (ok() && ::fsync(::fileno(stream_)) != 0) fail(Stage::write, errno);
  const int closed = std::fclose(stream_);
  const int closeError = errno;
  stream_ = nullptr;
  if (closed != 0) fail(Stage::write, closeError);
  return ok();
}

namespace {

// Where the file system cannot refuse to replace (renameat2 unsupported), a hard link can: it
// fails on a taken name. Where it has no hard links either, an empty file made exclusively
// holds the name while the content is renamed over it.
Moved moveByLink(const std::string& from, const std::string& to, int& error) {
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return Moved::done;
  }
  error = errno;
  if (error == EEXIST) return Moved::taken;
  if (error != EPERM && error != ENOTSUP) return Moved::failed;
  const int placeholder = openFile(to, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (placeholder < 0) {
    error = errno;
    return error == EEXIST ? Moved::taken : Moved::failed;
  }
  ::close(placeholder);
  if (std::rename(from.c_str(), to.c_str()) == 0) return Moved::done;
  error = errno;
  ::unlink(to.c_str());
  return Moved::failed;
}

}  // namespace

Moved moveFile(const std::string& from, const std::string& to, bool replacing, int& error) {
  if (replacing) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return Moved::done;
    error = errno;
    return Moved::failed;
  }
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return Moved::done;
  error = errno;
  if (error == EEXIST) return Moved::taken;
  if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return Moved::failed;
#endif
  return moveByLink(from, to, error);
}

bool removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

}  // namespace ravdel
