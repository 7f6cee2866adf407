// ravdel-net health: each station up, a problem or down; status 1 when one is down.
#include <algorithm>

#include "analysis/figures_json.h"
#include "analysis/health.h"
#include "analysis/time_text.h"
#include "server/figure_commands.h"
#include "server/figure_options.h"
#include "store/store.h"

namespace ravdel {
namespace {

void writeTable(const std::vector<StationHealth>& stations, std::ostream& out) {
  for (const StationHealth& s : stations) {
    out << s.station << '\t' << stationStateName(s.state) << "\tlast heartbeat "
        << (s.lastHeartbeatUs ? utcText(*s.lastHeartbeatUs) : "never");
    for (const std::string& problem : s.problems)
      out << "\t" << problem;
    out << '\n';
  }
}

}  // namespace

int runHealth(const CommandArguments& args, std::ostream& out) {
  const auto store = openFiguresStore(args);
  const std::vector<StationHealth> stations = stationHealth(store->database(), nowMicroseconds());
  if (args.has("json")) {
    nlohmann::json all = nlohmann::json::array();
    for (const StationHealth& s : stations)
      all.push_back(healthJson(s));
    out << all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    writeTable(stations, out);
  }
  const bool anyDown = std::any_of(stations.begin(), stations.end(), [](const StationHealth& s) {
    return s.state == StationState::down;
  });
  return anyDown ? 1 : 0;
}

}  // namespace ravdel
