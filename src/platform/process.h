#pragma once

#include <cstdint>

namespace ravdel {

// This process's identifier.
std::int64_t currentProcessId();

// Whether a process of that identifier runs now, ours included. One the system will not let us
// look at counts as running: only what is surely gone may be cleaned up after.
bool processRunning(std::int64_t pid);

}  // namespace ravdel
