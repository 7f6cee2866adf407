#include "server/rejection_tally.h"

namespace ravdel {

bool RejectionTally::count(const std::string& reason, std::int64_t n) {
  const auto [at, added] = counts_.try_emplace(reason, 0);
  at->second += n;
  return added;
}

std::int64_t RejectionTally::total() const {
  std::int64_t sum = 0;
  for (const auto& [reason, n] : counts_)
    sum += n;
  return sum;
}

std::string RejectionTally::summary() const {
  std::string text;
  for (const auto& [reason, n] : counts_)
    text += (text.empty() ? "" : ", ") + reason + " " + std::to_string(n);
  return text.empty() ? "none" : text;
}

}  // namespace ravdel
