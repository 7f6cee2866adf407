// ravdel-net rates: per station and bin, events, live time and the rate with its interval.
#include "analysis/figures_json.h"
#include "analysis/rates.h"
#include "analysis/time_text.h"
#include "server/figure_commands.h"
#include "server/figure_options.h"
#include "store/store.h"
#include "store/time_bins.h"

namespace ravdel {
namespace {

void writeTable(const std::vector<RateBin>& bins, std::ostream& out) {
  out << "station\tstart\tevents\tlive_h\trate_per_h\tlow\thigh\tlive_share\n";
  for (const RateBin& bin : bins) {
    out << bin.station << '\t' << utcText(bin.startUs) << '\t' << bin.events << '\t'
        << fixedText(static_cast<double>(bin.liveMs) / 3600000.0, 3) << '\t';
    if (bin.perHour) {
      out << fixedText(*bin.perHour, 3) << '\t' << fixedText(bin.lowPerHour, 3) << '\t'
          << fixedText(bin.highPerHour, 3);
    } else {
      out << "-\t-\t-";  // no live time: no rate
    }
    out << '\t' << fixedText(bin.liveShare, 3) << '\n';
  }
}

void writeCsv(const std::vector<RateBin>& bins, std::ostream& out) {
  out << "station,start_us,width_s,events,live_s,rate_per_hour,rate_low,rate_high,live_share\n";
  for (const RateBin& bin : bins) {
    out << bin.station << ',' << bin.startUs << ',' << bin.widthUs / 1000000 << ',' << bin.events
        << ',' << fixedText(static_cast<double>(bin.liveMs) / 1000.0, 3) << ',';
    if (bin.perHour)
      out << fixedText(*bin.perHour, 6) << ',' << fixedText(bin.lowPerHour, 6) << ','
          << fixedText(bin.highPerHour, 6);
    else
      out << ",,";
    out << ',' << fixedText(bin.liveShare, 6) << '\n';
  }
}

}  // namespace

int runRates(const CommandArguments& args, std::ostream& out) {
  const std::int64_t now = nowMicroseconds();
  RateQuery query;
  query.station = args.value("station");
  query.sinceUs = momentOption(args, "since", now).value_or(0);
  query.untilUs = momentOption(args, "until", now).value_or(now + kHourUs);
  const std::string bin = args.value("bin").value_or("hour");
  if (bin != "hour" && bin != "day") throw CommandLineError("--bin is hour or day, not " + bin);
  query.binUs = bin == "hour" ? kHourUs : kDayUs;
  if (args.has("json") && args.has("csv")) throw CommandLineError("--json or --csv, not both");
  const auto store = openFiguresStore(args);
  const std::vector<RateBin> bins = rates(store->database(), query);
  if (args.has("json")) {
    out << ratesJson(bins).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else if (args.has("csv")) {
    writeCsv(bins, out);
  } else {
    writeTable(bins, out);
  }
  return 0;
}

}  // namespace ravdel
