#include "platform/os_release.h"

#include <charconv>

namespace ravdel {

std::string OsVersion::text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

std::optional<OsVersion> parseKernelRelease(std::string_view release) {
  std::uint32_t parts[3] = {0, 0, 0};
  const char* p = release.data();
  const char* const end = p + release.size();
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      // A later part counts only as ".<digits>"; anything else ends the version.
      if (p == end || *p != '.' || p + 1 == end || *(p + 1) < '0' || *(p + 1) > '9') break;
      ++p;
    }
    const auto [next, ec] = std::from_chars(p, end, parts[i]);
    if (ec != std::errc()) return std::nullopt;
    p = next;
  }
  return OsVersion{parts[0], parts[1], parts[2]};
}

std::string osRelease() {
  const auto version = osVersion();
  return version ? version->text() : "...";
}

}  // namespace ravdel
