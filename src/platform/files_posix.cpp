// Reading and replacing files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/files.h"

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

// Hidden, beside the target (a rename within one folder is atomic), unique in this process.
std::string temporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path t(target);
  const std::string dir = t.has_parent_path() ? t.parent_path().string() + "/" : "";
  return dir + "." + t.filename().string() + "." + std::to_string(::getpid()) + "-" +
         std::to_string(counter++) + ".tmp";
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int raw = openFile(path, O_RDONLY);
  if (raw < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::missing : FileRead::failed;
  FileDescriptor fd(raw);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileRead::failed;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileRead::failed;
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

ReplacingFile::ReplacingFile(const std::string& target) : target_(resolveSymlink(target)) {
  create();
}

void ReplacingFile::create() {
  // Opening for writing (without truncating) asks the system whether we may write the file;
  // replacing it through its folder would otherwise overrule a read-only file.
  bool exists = false;
  mode_t mode = 0;
  if (FileDescriptor probe(openFile(target_, O_WRONLY)); probe.get() >= 0) {
    struct stat st {};
    if (::fstat(probe.get(), &st) != 0) return fail(Stage::create, errno);
    if (!S_ISREG(st.st_mode)) return fail(Stage::create, EISDIR);
    exists = true;
    mode = st.st_mode & 0777;
  } else if (errno != ENOENT) {
    return fail(Stage::create, errno);
  }

  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = temporaryName(target_);
    // The umask applies to a new file.
    FileDescriptor fd(openFile(temp_, O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      temp_.clear();
      return fail(Stage::create, errno);
    }
    if (exists && ::fchmod(fd.get(), mode) != 0) return fail(Stage::create, errno);
    stream_ = ::fdopen(fd.get(), "wb");
    if (stream_ == nullptr) return fail(Stage::create, errno);
    fd.release();  // the stream owns it now
    return;
  }
  temp_.clear();
  fail(Stage::create, EEXIST);
}

ReplacingFile::~ReplacingFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void ReplacingFile::fail(Stage stage, int errorNumber) {
  if (failedAt_ != Stage::none) return;
  failedAt_ = stage;
  error_ = std::strerror(errorNumber);
}

bool ReplacingFile::commit() {
  if (!ok()) return false;
  // Flushed and synced before the rename: after a crash the target holds either the old
  // content or the whole new one.
  if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) fail(Stage::write, errno);
  if (ok() && ::fsync(::fileno(stream_)) != 0) fail(Stage::write, errno);
  const int closed = std::fclose(stream_);
  const int closeError = errno;
  stream_ = nullptr;
  if (closed != 0) fail(Stage::write, closeError);
  if (ok() && std::rename(temp_.c_str(), target_.c_str()) != 0) fail(Stage::commit, errno);
  committed_ = ok();
  return committed_;
}

}  // namespace ravdel
