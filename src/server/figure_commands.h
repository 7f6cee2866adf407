#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "server/net_commands.h"

namespace ravdel {

// ravdel-net's subcommands that read the store (rates, coincidences, export, health, serve), in
// the order --help lists them; none in builds without the figures. Each runs on the calling
// thread; serve until the process is told to stop.
std::vector<NetCommand> figureCommands();
// What --help says after the commands about the figures' moments and store.
std::string figureNotes();

// The commands' work, each on arguments the dispatcher parsed by the table's options.
int runRates(const CommandArguments& arguments, std::ostream& out);
int runCoincidences(const CommandArguments& arguments, std::ostream& out);
int runExport(const CommandArguments& arguments, std::ostream& out);
int runHealth(const CommandArguments& arguments, std::ostream& out);
int runServe(const CommandArguments& arguments, std::ostream& out);

}  // namespace ravdel
