// ravdel-net: the station network's tools: the broker's accounts and the network's figures.
#include <iostream>
#include <string>
#include <vector>

#include "server/figure_commands.h"
#include "server/net_commands.h"

int main(int argc, char* argv[]) {
  std::vector<ravdel::NetCommand> commands = ravdel::accountCommands();
  for (ravdel::NetCommand& command : ravdel::figureCommands())
    commands.push_back(std::move(command));
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "help") {
    (arguments.empty() ? std::cerr : std::cout)
        << ravdel::netUsage(commands) << ravdel::figureNotes();
    return arguments.empty() ? 2 : 0;
  }
  return ravdel::runNetCommand(commands, arguments, std::cout, std::cerr);
}
