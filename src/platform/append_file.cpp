#include "platform/append_file.h"

#include <utility>

namespace ravdel {

// The parts that do not depend on the system; append_file_<system>.cpp has the rest.

AppendFile::~AppendFile() {
  close();
}

AppendFile::AppendFile(AppendFile&& other) noexcept
    : path_(std::move(other.path_)),
      error_(std::move(other.error_)),
      handle_(std::exchange(other.handle_, -1)),
      tornTail_(std::exchange(other.tornTail_, false)) {}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    handle_ = std::exchange(other.handle_, -1);
    tornTail_ = std::exchange(other.tornTail_, false);
  }
  return *this;
}

bool AppendFile::open(const std::string& path) {
  close();
  path_ = path;
  return reopen();
}

}  // namespace ravdel
