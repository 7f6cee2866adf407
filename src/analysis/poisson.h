#pragma once

#include <cstdint>

namespace ravdel {

// The central 68.27 % confidence interval of a Poisson mean after `count` events, exact
// (Garwood's, from the chi-square quantiles): 0 events give [0, 1.841], 1 gives
// [0.173, 3.300]. Any thread.
struct PoissonInterval {
  double low = 0;
  double high = 0;
};
PoissonInterval poissonInterval68(std::int64_t count);

}  // namespace ravdel
