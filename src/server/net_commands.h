#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "server/command_options.h"

namespace ravdel {

// One subcommand of ravdel-net: the words that name it ("station add"), what follows them, and
// its work. The account commands are in net_commands.cpp, the figures' in figure_commands.cpp.
struct NetCommand {
  std::vector<std::string> words;
  std::string synopsis;  // what follows the words, for --help
  std::string summary;
  std::vector<OptionSpec> options;
  std::size_t operands = 0;  // words after the command's own (a NAME)
  // Writes what the user reads to `out` and returns the exit status: 0, or 1 for what a
  // monitoring system acts on (a station down). Throws CommandLineError for a usage error, any
  // other exception for a failure.
  std::function<int(const CommandArguments&, std::ostream& out)> run;
};

// The broker's accounts: station add, ingest-account add.
std::vector<NetCommand> accountCommands();

// Finds the command of `commands` the arguments name and runs it on the calling thread. Its
// exit status; a usage error is said on `err` with status 2, any other failure with 1.
int runNetCommand(const std::vector<NetCommand>& commands,
                  const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

std::string netUsage(const std::vector<NetCommand>& commands);

}  // namespace ravdel
