#include "analysis/poisson.h"

#include <cmath>
#include <unordered_map>

namespace ravdel {
namespace {

// One tail on each side of the central 68.27 % (one standard deviation of a normal).
constexpr double kTail = 0.158655253931457;

// The regularised lower incomplete gamma function P(a, x): a series below a + 1, Lentz's
// continued fraction for its complement above.
double lowerGamma(double a, double x) {
  if (x <= 0) return 0;
  const double logPrefix = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1) {
    double term = 1 / a, sum = term;
    for (int n = 1; n < 100000 && std::fabs(term) > std::fabs(sum) * 1e-16; ++n) {
      term *= x / (a + n);
      sum += term;
    }
    return sum * std::exp(logPrefix);
  }
  constexpr double kTiny = 1e-300;
  double b = x + 1 - a, c = 1 / kTiny, d = 1 / b, h = d;
  for (int n = 1; n < 100000; ++n) {
    const double an = -n * (n - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < 1e-16) break;
  }
  return 1 - std::exp(logPrefix) * h;
}

// The mean in [0, highest] at which `rising(mean)` reaches `target`, by bisection.
template <typename Rising>
double solveMean(double highest, double target, Rising rising) {
  double low = 0, high = highest;
  for (int i = 0; i < 200 && high - low > 1e-12 * (1 + high); ++i) {
    const double mid = (low + high) / 2;
    (rising(mid) < target ? low : high) = mid;
  }
  return (low + high) / 2;
}

PoissonInterval computeInterval(std::int64_t count) {
  const auto n = static_cast<double>(count);
  const double highest = n + 20 * std::sqrt(n + 1) + 20;
  PoissonInterval interval;
  // The low end leaves P(X >= n) = P(n, mean) = kTail; the high end P(X <= n) =
  // 1 - P(n + 1, mean) = kTail.
  if (count > 0)
    interval.low = solveMean(highest, kTail, [&](double mean) { return lowerGamma(n, mean); });
  interval.high =
      solveMean(highest, 1 - kTail, [&](double mean) { return lowerGamma(n + 1, mean); });
  return interval;
}

}  // namespace

PoissonInterval poissonInterval68(std::int64_t count) {
  if (count < 0) return {};
  // The same few counts come back bin after bin; each thread keeps those it worked out.
  thread_local std::unordered_map<std::int64_t, PoissonInterval> known;
  const auto found = known.find(count);
  if (found != known.end()) return found->second;
  const PoissonInterval interval = computeInterval(count);
  if (known.size() < 100000) known.emplace(count, interval);
  return interval;
}

}  // namespace ravdel
