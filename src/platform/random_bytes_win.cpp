#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <stdexcept>

#include "platform/random_bytes.h"

namespace ravdel {

void fillRandomBytes(std::span<std::byte> bytes) {
  const NTSTATUS status =
      ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()),
                        static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) throw std::runtime_error("cannot read random bytes (BCryptGenRandom)");
}

}  // namespace ravdel
