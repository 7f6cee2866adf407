#include "server/figure_commands.h"

namespace ravdel {

// Builds without the figures (the arm64 cross build, which has no HTTP library for the page)
// offer the account commands alone.
std::vector<NetCommand> figureCommands() {
  return {};
}

std::string figureNotes() {
  return {};
}

}  // namespace ravdel
