#include <sys/utsname.h>

#include "platform/os_release.h"

namespace ravdel {

std::optional<OsVersion> osVersion() {
  struct utsname names {};
  if (::uname(&names) != 0) return std::nullopt;
  return parseKernelRelease(names.release);
}

}  // namespace ravdel
