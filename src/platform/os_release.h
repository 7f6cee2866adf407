#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravdel {

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;

  // "major.minor.build" in decimal without padding.
  std::string text() const;
};

// The leading major.minor.patch of a kernel release such as "6.1.0-18-amd64". A missing
// minor or patch counts as 0 ("6.8-rc1" is 6.8.0); nothing when the text does not start with a
// number or a number exceeds 32 bits.
std::optional<OsVersion> parseKernelRelease(std::string_view release);

// The running kernel's version, nothing when unknown.
std::optional<OsVersion> osVersion();

// The running kernel's version as "major.minor.patch", "..." when unknown.
std::string osRelease();

}  // namespace ravdel
