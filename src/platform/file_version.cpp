#include "platform/file_version.h"

namespace ravdel {

std::string cutLastVersionPart(std::string_view version) {
  const auto dot = version.rfind('.');
  if (dot == std::string_view::npos) return {};
  return std::string(version.substr(0, dot));
}

}  // namespace ravdel
