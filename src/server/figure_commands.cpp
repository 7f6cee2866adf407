#include "server/figure_commands.h"

namespace ravdel {

std::vector<NetCommand> figureCommands() {
  const OptionSpec store{"store"};
  return {
      {{"rates"},
       "[--station S] [--since T] [--until T] [--bin hour|day] [--json|--csv]",
       "events, live time and the rate per hour with its 68 % interval, per station and bin",
       {store, {"station"}, {"since"}, {"until"}, {"bin"}, {"json", false}, {"csv", false}},
       0,
       runRates},
      {{"coincidences"},
       "[--window auto|MS] [--min-stations N] [--shifts N] [--since T] [--until T] [--json]",
       "events of several stations at one instant, beside the accidental background",
       {store, {"window"}, {"min-stations"}, {"shifts"}, {"since"}, {"until"}, {"json", false}},
       0,
       runCoincidences},
      {{"export"},
       "--since T --until T [--station S] [--format csv|jsonl]",
       "the events and heartbeats of a range",
       {store, {"since"}, {"until"}, {"station"}, {"format"}},
       0,
       runExport},
      {{"health"},
       "[--json]",
       "each station up, a problem or down; exit status 1 when one is down",
       {store, {"json", false}},
       0,
       runHealth},
      {{"serve"},
       "[--listen 127.0.0.1:8080] [--token TEXT]",
       "the page of the figures and the JSON behind it, read-only",
       {store, {"listen"}, {"token"}},
       0,
       runServe},
  };
}

std::string figureNotes() {
  return "\nThe figures' moments: 2026-12-08, 2026-12-08T09:26:53Z, 2026-12-08T10:26+01:00, now, "
         "-30m, -24h, -7d (UTC unless an offset is given).\nTheir store: --store sqlite:FILE or "
         "postgresql://...; without it, the station's own history beside its settings file.\n";
}

}  // namespace ravdel
