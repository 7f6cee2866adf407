#include "platform/file_version.h"

#ifndef RAVDEL_FILE_VERSION
#error "RAVDEL_FILE_VERSION must come from the build"
#endif

namespace ravdel {

std::string cutLastVersionPart(std::string_view version) {
  const auto dot = version.rfind('.');
  if (dot == std::string_view::npos) return {};
  return std::string(version.substr(0, dot));
}

std::string ReadFileVersion(bool full) {
  constexpr std::string_view version = RAVDEL_FILE_VERSION;
  return full ? std::string(version) : cutLastVersionPart(version);
}

}  // namespace ravdel
