// ravdel-net: the station network's tools (accounts now; more subcommands join net_commands).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "server/accounts.h"
#include "server/command_options.h"
#include "server/net_commands.h"

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "help") {
    std::fputs(ravdel::netUsage().c_str(), arguments.empty() ? stderr : stdout);
    return arguments.empty() ? 2 : 0;
  }
  try {
    std::string out;
    ravdel::runNetCommand(arguments, out);
    std::fputs(out.c_str(), stdout);
    return 0;
  } catch (const ravdel::CommandLineError& e) {
    std::fprintf(stderr, "ravdel-net: %s (see --help)\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ravdel-net: %s\n", e.what());
    return 1;
  }
}
