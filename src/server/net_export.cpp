// ravdel-net export: the events and heartbeats of a range as CSV or JSON lines.
#include <stdexcept>

#include "analysis/export.h"
#include "server/figure_commands.h"
#include "server/figure_options.h"
#include "store/store.h"

namespace ravdel {

int runExport(const CommandArguments& args, std::ostream& out) {
  const std::int64_t now = nowMicroseconds();
  ExportQuery query;
  const auto since = momentOption(args, "since", now);
  const auto until = momentOption(args, "until", now);
  if (!since || !until) throw CommandLineError("--since and --until are needed");
  query.sinceUs = *since;
  query.untilUs = *until;
  query.station = args.value("station");
  const std::string format = args.value("format").value_or("csv");
  if (format != "csv" && format != "jsonl")
    throw CommandLineError("--format is csv or jsonl, not " + format);
  query.format = format == "csv" ? ExportFormat::csv : ExportFormat::jsonl;
  const auto store = openFiguresStore(args);
  exportRows(store->database(), query, out);
  out.flush();
  if (!out) throw std::runtime_error("the rows could not be written out");
  return 0;
}

}  // namespace ravdel
