// ravdel-net coincidences: groups of events of several stations at one instant, beside the
// accidental background of the shifted searches.
#include <cstdio>

#include "analysis/coincidences.h"
#include "analysis/figures_json.h"
#include "analysis/time_text.h"
#include "store/store.h"
#include "tools/net_arguments.h"
#include "tools/net_commands.h"

namespace ravdel {
namespace {

std::string fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void writeSummary(const CoincidenceResult& result, std::ostream& out) {
  const Background& background = result.background;
  out << "range " << utcText(result.sinceUs) << " .. " << utcText(result.untilUs) << ", "
      << result.stations.size() << " stations with events\n"
      << "found " << result.groups.size() << " coincidences\n";
  if (!background.unavailable.empty()) {
    out << "accidental background: none (" << background.unavailable << ")\n";
    return;
  }
  out << "accidental background " << fixed(background.expected, 2) << " +- "
      << fixed(background.spread, 2) << " (" << background.counts.size()
      << " shifted searches)\nexcess " << fixed(result.excess, 2);
  if (result.significance) out << ", significance " << fixed(*result.significance, 1) << " sigma";
  out << '\n';
}

void writeGroups(Database& database, const CoincidenceResult& result, std::ostream& out) {
  for (const CoincidenceGroup& group : result.groups) {
    out << '\n' << utcText(group.events.front().tUs) << "  " << group.stations << " stations\n";
    for (const EventRow& e : groupEvents(database, result, group)) {
      out << "  " << e.station << "  " << utcText(e.tUs) << "  -" << (e.tUs - e.tLoUs) / 1000
          << "/+" << (e.tHiUs - e.tUs) / 1000 << " ms  peak " << std::max({e.r, e.g, e.b}) << " at "
          << e.x << "," << e.y << "  crop "
          << (e.crop.empty() ? "none" : std::to_string(e.crop.size()) + " bytes") << '\n';
    }
  }
}

}  // namespace

int runCoincidences(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  return guardedCommand("coincidences", err, [&] {
    const NetArguments args(words, {kStoreOption,
                                    {"window"},
                                    {"min-stations"},
                                    {"shifts"},
                                    {"since"},
                                    {"until"},
                                    {"json", false}});
    const std::int64_t now = nowMicroseconds();
    CoincidenceQuery query;
    query.sinceUs = args.moment("since", now);
    query.untilUs = args.moment("until", now);
    if (query.sinceUs && !query.untilUs) query.untilUs = now;
    if (query.untilUs && !query.sinceUs) throw NetUsageError("--until needs --since");
    if (!parseWindow(args.value("window").value_or("auto"), query.windowUs))
      throw NetUsageError("--window is auto or milliseconds above 0, at most 60000");
    query.minStations = static_cast<int>(args.integer("min-stations", 2, 1000, 2));
    query.shifts = static_cast<int>(args.integer("shifts", 20, 1000, 20));
    const auto store = args.openStore();
    const CoincidenceResult result = searchCoincidences(store->database(), query);
    if (args.has("json")) {
      out << coincidencesJson(store->database(), result, 0, result.groups.size(), CropStyle::base64)
                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
          << '\n';
    } else {
      writeSummary(result, out);
      writeGroups(store->database(), result, out);
    }
    return 0;
  });
}

}  // namespace ravdel
