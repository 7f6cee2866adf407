#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace ravdel {

// What was turned away, by reason: the first of each reason is logged, the rest only counted,
// so a station that sends the same fault all night fills no disk. One thread.
class RejectionTally {
 public:
  // Adds `n` to the reason's count; true when the reason is new (the caller logs it).
  bool count(const std::string& reason, std::int64_t n = 1);
  std::int64_t total() const;
  // "not JSON 2, larger than 1 MiB 1"; "none" when nothing was turned away.
  std::string summary() const;

 private:
  std::map<std::string, std::int64_t> counts_;
};

}  // namespace ravdel
