#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "store/database.h"

namespace ravdel {

enum class ExportFormat { csv, jsonl };

struct ExportQuery {
  std::int64_t sinceUs = 0;
  std::int64_t untilUs = 0;
  std::optional<std::string> station;
  ExportFormat format = ExportFormat::csv;
};

// Writes the events whose t_us lies in [sinceUs, untilUs), then the heartbeats whose from_us
// does, each in time order, a page of rows at a time. CSV: one header line, then one line per
// row with `kind` ("event" or "heartbeat") first and the columns of both tables (empty where
// the row's table has none). JSON lines: one object per row with `kind` and its own table's
// columns. Crops are base64 PNG. Throws StoreError.
void exportRows(Database& database, const ExportQuery& query, std::ostream& out);

}  // namespace ravdel
