#pragma once

#include <cstddef>
#include <span>

namespace ravdel {

// Fills `bytes` from the system's cryptographic random source, for secrets such as the token
// of the station's page. Throws std::runtime_error when the source cannot be read.
void fillRandomBytes(std::span<std::byte> bytes);

}  // namespace ravdel
