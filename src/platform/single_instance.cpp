#include "platform/single_instance.h"

#include <utility>

namespace ravdel {

// The parts that do not depend on the system; single_instance_<system>.cpp has the rest.

SingleInstance::SingleInstance() : SingleInstance(defaultLockPath()) {}

SingleInstance::SingleInstance(std::string lockPath) : path_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() {
  release();
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept
    : path_(std::move(other.path_)),
      error_(std::move(other.error_)),
      handle_(std::exchange(other.handle_, -1)) {}

SingleInstance& SingleInstance::operator=(SingleInstance&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

}  // namespace ravdel
