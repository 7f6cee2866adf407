#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/command_options.h"

namespace ravdel {

// One subcommand of ravdel-net: the words that name it ("station add"), what follows them, and
// its work. New tools of the network join the table in net_commands.cpp.
struct NetCommand {
  std::vector<std::string> words;
  std::string synopsis;  // what follows the words, for --help
  std::string summary;
  std::vector<OptionSpec> options;
  std::size_t operands = 0;  // words after the command's own (a NAME)
  // Writes what the user reads to `out`; throws CommandLineError or AccountError.
  std::function<void(const CommandArguments&, std::string& out)> run;
};

const std::vector<NetCommand>& netCommands();

// Finds the command the arguments name and runs it. Throws CommandLineError for a command line
// that names none or does not fit it.
void runNetCommand(const std::vector<std::string>& arguments, std::string& out);

std::string netUsage();

}  // namespace ravdel
