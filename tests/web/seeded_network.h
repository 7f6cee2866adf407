#pragma once

#include <cstdint>
#include <string>

#include "store/store.h"

namespace ravdel::test {

// The moment the seeded network is judged at.
inline constexpr std::int64_t kSeedNowUs = 1796720813000000;  // 2026-12-08T09:06:53Z

// A station whose name would be markup if the page ever took it as such.
inline const std::string kMarkupStation = "<script>x</script><img src=x onerror=window.pwned=1>";

// Three stations as of kSeedNowUs: "alpha" up (three days at 7 events an hour, synchronised,
// a place), kMarkupStation a problem (its clock not synchronised), "gamma" down (silent for
// two hours); one coincidence of alpha and kMarkupStation an hour ago, both events with a
// crop.
void seedNetwork(Store& store);

// The coincidence's instant.
inline constexpr std::int64_t kSeedCoincidenceUs = kSeedNowUs - 3600LL * 1000000 + 123456;

}  // namespace ravdel::test
