// File access and the settings folder on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "app/settings/settings.h"
#include "app/settings/settings_platform.h"

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
  // Closes now, for callers that must see the result (a late write error shows here).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// O_NONBLOCK everywhere: a FIFO in place of the settings file must not hang the program.
int openFile(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Renaming over a symlink would replace the link with a plain file, cutting the user's settings
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

bool replaceFileContents(const std::string& path, std::string_view bytes) {
  const std::string target = resolveSymlink(path);

  // Opening for writing (without truncating) asks the system whether we may write the file;
  // replacing it through its folder would otherwise overrule a read-only file.
  bool exists = false;
  mode_t mode = 0;
  {
    const int raw = openFile(target, O_WRONLY);
    if (raw >= 0) {
      FileDescriptor fd(raw);
      struct stat st {};
      if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
      exists = true;
      mode = st.st_mode & 0777;
    } else if (errno != ENOENT) {
      return false;
    }
  }

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    raw = openFile(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);  // the umask applies to a new file
    if (raw < 0 && errno != EEXIST) return false;
  }
  if (raw < 0) return false;

  FileDescriptor fd(raw);
  bool ok = (!exists || ::fchmod(fd.get(), mode) == 0) && writeAll(fd.get(), bytes) &&
            ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::string ReadEnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

std::string SettingsPath() {
  std::string folder = ReadEnvironmentVariable("APPDATA");
  if (folder.empty()) {
    folder = ReadEnvironmentVariable("XDG_CONFIG_HOME");
    // The base-directory convention ignores a relative value; honouring it would move the
    // settings with the current directory.
    if (!folder.empty() && folder.front() != '/') folder.clear();
  }
  if (folder.empty()) folder = ReadEnvironmentVariable("HOME") + "/.config";
  if (folder.back() != '/') folder += '/';
  return folder + "RVD.ini";
}

}  // namespace ravdel
