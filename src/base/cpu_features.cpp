#include "base/cpu_features.h"

#include <cstdlib>
#include <cstring>

namespace ravdel {
namespace {

bool portableForced() {
  const char* value = std::getenv("RAVDEL_PORTABLE_KERNELS");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

CpuFeatures detect() {
  CpuFeatures f;
  if (portableForced()) return f;
#if defined(__x86_64__) || defined(__i386__)
  // libgcc also checks that the operating system saves the wider registers.
  __builtin_cpu_init();
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
#elif defined(__aarch64__)
  f.neon = true;
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpuFeatures() {
  static const CpuFeatures features = detect();
  return features;
}

}  // namespace ravdel
