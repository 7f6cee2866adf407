#include "tools/net_commands.h"

namespace ravdel {

const std::vector<NetCommand>& figureCommands() {
  static const std::vector<NetCommand> commands = {
      {"rates", "[--station S] [--since T] [--until T] [--bin hour|day] [--json|--csv]",
       "events, live time and the rate per hour with its 68 % interval, per station and bin",
       runRates},
      {"coincidences",
       "[--window auto|MS] [--min-stations N] [--shifts N] [--since T] [--until T] [--json]",
       "events of several stations at one instant, beside the accidental background",
       runCoincidences},
      {"export", "--since T --until T [--station S] [--format csv|jsonl]",
       "the events and heartbeats of a range", runExport},
      {"health", "[--json]", "each station up, a problem or down; exit status 1 when one is down",
       runHealth},
      {"serve", "[--listen 127.0.0.1:8080] [--token TEXT]",
       "the page of the figures and the JSON behind it, read-only", runServe},
  };
  return commands;
}

}  // namespace ravdel
