#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ravdel {

// The subcommands of ravdel-net that read the store. Each takes the words after its name,
// writes what the user reads to `out` and news to `err`, and returns the exit status: 0, 1 for
// a failure (or, for health, a station down), 2 for a usage error. Any thread that owns its
// arguments; serve runs until the process is told to stop.
using NetCommandRun = int (*)(const std::vector<std::string>& words, std::ostream& out,
                              std::ostream& err);

struct NetCommand {
  const char* name;
  const char* synopsis;  // what follows the name
  const char* summary;
  NetCommandRun run;
};

int runRates(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);
int runCoincidences(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);
int runExport(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);
int runHealth(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);
int runServe(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

// The table the dispatcher reads, in the order --help lists it.
const std::vector<NetCommand>& figureCommands();

}  // namespace ravdel
