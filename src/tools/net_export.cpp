// ravdel-net export: the events and heartbeats of a range as CSV or JSON lines.
#include "analysis/export.h"
#include "store/store.h"
#include "tools/net_arguments.h"
#include "tools/net_commands.h"

namespace ravdel {

int runExport(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  return guardedCommand("export", err, [&] {
    const NetArguments args(words, {kStoreOption, {"since"}, {"until"}, {"station"}, {"format"}});
    const std::int64_t now = nowMicroseconds();
    ExportQuery query;
    const auto since = args.moment("since", now);
    const auto until = args.moment("until", now);
    if (!since || !until) throw NetUsageError("--since and --until are needed");
    query.sinceUs = *since;
    query.untilUs = *until;
    query.station = args.value("station");
    const std::string format = args.value("format").value_or("csv");
    if (format != "csv" && format != "jsonl")
      throw NetUsageError("--format is csv or jsonl, not " + format);
    query.format = format == "csv" ? ExportFormat::csv : ExportFormat::jsonl;
    const auto store = args.openStore();
    exportRows(store->database(), query, out);
    out.flush();
    return out ? 0 : 1;
  });
}

}  // namespace ravdel
