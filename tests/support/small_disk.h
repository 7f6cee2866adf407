#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace ravdel::test {

// A small file system of its own (tmpfs) mounted on a folder, to fill up and free again: a
// full disk without touching the machine's. Mounting needs root (as in CI); elsewhere
// mounted() is false and why() says so, and the test skips. Linux only.
class SmallDisk {
 public:
  SmallDisk(std::filesystem::path folder, std::size_t kilobytes) : folder_(std::move(folder)) {
    std::filesystem::create_directories(folder_);
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    if (::mount("ravdel-test", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      why_ = "cannot mount a small tmpfs here (" + std::string(std::strerror(errno)) +
             "); the full disk is tried as root in CI";
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

  // Fills the disk with one file but for about `kilobytes` (whole pages of 4 KiB).
  void fillLeaving(std::size_t kilobytes) const {
    const std::filesystem::space_info space = std::filesystem::space(folder_);
    const std::size_t keep = kilobytes * 1024;
    const std::size_t fill = space.available > keep ? space.available - keep : 0;
    std::ofstream(filler(), std::ios::binary) << std::string(fill, 'f');
  }
  void free() const { std::filesystem::remove(filler()); }

 private:
  std::filesystem::path filler() const { return folder_ / ".filler"; }

  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace ravdel::test
