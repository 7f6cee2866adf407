#include "analysis/poisson.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ravdel {
namespace {

constexpr double kTail = 0.158655253931457;

// P(X <= n) and P(X >= n) for a Poisson mean, summed term by term: independent of the
// incomplete gamma function the interval is solved with.
double atMost(std::int64_t n, double mean) {
  double term = std::exp(-mean), sum = term;
  for (std::int64_t k = 1; k <= n; ++k) {
    term *= mean / static_cast<double>(k);
    sum += term;
  }
  return sum;
}

TEST(PoissonIntervalTest, KnownValuesForFewEvents) {
  struct Case {
    std::int64_t n;
    double low, high;
  } cases[] = {{0, 0.0, 1.841}, {1, 0.173, 3.300}, {2, 0.708, 4.638}, {3, 1.367, 5.918}};
  for (const Case& c : cases) {
    const PoissonInterval interval = poissonInterval68(c.n);
    EXPECT_NEAR(interval.low, c.low, 0.0006) << c.n;
    EXPECT_NEAR(interval.high, c.high, 0.0006) << c.n;
  }
}

// Each end leaves exactly the tail outside, from a single event to a flood.
TEST(PoissonIntervalTest, EachEndLeavesOneTail) {
  for (const std::int64_t n : {1, 4, 10, 57, 300, 600}) {
    const PoissonInterval interval = poissonInterval68(n);
    EXPECT_NEAR(1 - atMost(n - 1, interval.low), kTail, 1e-9) << n;
    EXPECT_NEAR(atMost(n, interval.high), kTail, 1e-9) << n;
    EXPECT_LT(interval.low, static_cast<double>(n));
    EXPECT_GT(interval.high, static_cast<double>(n));
  }
}

}  // namespace
}  // namespace ravdel
