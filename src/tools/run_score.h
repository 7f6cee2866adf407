#pragma once

#include <optional>
#include <string>
#include <vector>

#include "detection/hit_score.h"

namespace ravdel {

// The name its messages on stderr begin with.
inline constexpr const char* kProgram = "ravdel-analyse";

// What `ravdel-analyse --truth` scores: a simulated camera's truth file against event logs
// of the same run.
struct ScoreRequest {
  std::string truthFile;
  std::vector<std::string> eventLogs;
  MatchTolerance tolerance;
  std::optional<double> liveSeconds;  // none: the largest live_s among the events
  bool json = false;
};

// Reads the files, scores the run and prints the score on stdout. Returns false, with the
// reason on stderr, when a file cannot be read or holds a line that is not what it should be.
bool scoreFiles(const ScoreRequest& request);

}  // namespace ravdel
