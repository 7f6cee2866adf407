// Without version resources the version is the one the build compiled in.
#include "platform/file_version.h"

#ifndef RAVDEL_FILE_VERSION
#error "RAVDEL_FILE_VERSION must come from the build"
#endif

namespace ravdel {

std::string ReadFileVersion(bool full) {
  constexpr std::string_view version = RAVDEL_FILE_VERSION;
  return full ? std::string(version) : cutLastVersionPart(version);
}

}  // namespace ravdel
