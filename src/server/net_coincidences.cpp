// ravdel-net coincidences: groups of events of several stations at one instant, beside the
// accidental background of the shifted searches.
#include "analysis/coincidences.h"
#include "analysis/figures_json.h"
#include "analysis/time_text.h"
#include "server/figure_commands.h"
#include "server/figure_options.h"
#include "store/store.h"

namespace ravdel {
namespace {

void writeSummary(const CoincidenceResult& result, std::ostream& out) {
  const Background& background = result.background;
  out << "range " << utcText(result.sinceUs) << " .. " << utcText(result.untilUs) << ", "
      << result.stations.size() << " stations with events\n"
      << "found " << result.groups.size() << " coincidences\n";
  if (!background.unavailable.empty()) {
    out << "accidental background: none (" << background.unavailable << ")\n";
    return;
  }
  out << "accidental background " << fixedText(background.expected, 2) << " +- "
      << fixedText(background.spread, 2) << " (" << background.counts.size()
      << " shifted searches)\nexcess " << fixedText(result.excess, 2);
  if (result.significance)
    out << ", significance " << fixedText(*result.significance, 1) << " sigma";
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

int runCoincidences(const CommandArguments& args, std::ostream& out) {
  const std::int64_t now = nowMicroseconds();
  CoincidenceQuery query;
  query.sinceUs = momentOption(args, "since", now);
  query.untilUs = momentOption(args, "until", now);
  if (query.sinceUs && !query.untilUs) query.untilUs = now;
  if (query.untilUs && !query.sinceUs) throw CommandLineError("--until needs --since");
  if (!parseWindow(args.value("window").value_or("auto"), query.windowUs))
    throw CommandLineError("--window is auto or milliseconds above 0, at most 60000");
  query.minStations = static_cast<int>(
      wholeNumberOption("min-stations", args.value("min-stations").value_or("2"), 2, 1000));
  query.shifts =
      static_cast<int>(wholeNumberOption("shifts", args.value("shifts").value_or("20"), 20, 1000));
  const auto store = openFiguresStore(args);
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
}

}  // namespace ravdel
