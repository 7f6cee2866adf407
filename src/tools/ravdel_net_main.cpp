// ravdel-net: the station network's tools. The dispatcher: the first word names the
// subcommand, found in the tables of the command files; everything after it is the
// subcommand's own.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/net_commands.h"

namespace {

void usage(std::ostream& out) {
  out << "Usage: ravdel-net COMMAND [OPTIONS]\n\nCommands:\n";
  for (const ravdel::NetCommand& command : ravdel::figureCommands()) {
    out << "  " << command.name << ' ' << command.synopsis << "\n      " << command.summary << '\n';
  }
  out << "\nMoments: 2026-12-08, 2026-12-08T09:26:53Z, 2026-12-08T10:26+01:00, now, -30m, -24h,"
         " -7d (UTC unless an offset is given).\nThe store: --store sqlite:FILE or "
         "postgresql://...; without it, the station's own history beside its settings file.\n";
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "--help" || words[0] == "help") {
    usage(words.empty() ? std::cerr : std::cout);
    return words.empty() ? 2 : 0;
  }
  for (const ravdel::NetCommand& command : ravdel::figureCommands()) {
    if (words[0] == command.name)
      return command.run({words.begin() + 1, words.end()}, std::cout, std::cerr);
  }
  std::cerr << "ravdel-net: no command \"" << words[0] << "\" (see ravdel-net --help)\n";
  return 2;
}
