#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/database.h"
#include "store/rows.h"

namespace ravdel {

class HourlyTally;

// The store of events and heartbeats: a station's own history and outbox, or the network's
// table of every station. One schema in both engines, brought up to date by numbered
// migrations when opened. One thread at a time per object; open one per thread. Every
// operation throws StoreError.
class Store {
 public:
  static constexpr int kSchemaVersion = 3;

  // "sqlite:FILE", "postgresql://..." or "postgres://...", or a plain path (SQLite).
  static std::unique_ptr<Store> open(const std::string& location);
  explicit Store(std::unique_ptr<Database> database);

  Database& database() { return *database_; }
  int schemaVersion();

  // One transaction each; rows already stored are left as they are (their key decides). The
  // hourly counts (hourly_counts.h) take in the new rows in the same transaction.
  void insertEvents(std::span<const EventRow> rows);
  void insertHeartbeats(std::span<const HeartbeatRow> rows);
  // Counts the hourly table afresh from the stored rows, for rows written around the inserts
  // (a bulk load).
  void rebuildHourlyCounts();
  // The station's place and when it was last heard, kept per station.
  void noteStation(const std::string& station, std::optional<double> lat, std::optional<double> lon,
                   std::int64_t heardUs);
  void flagStation(const std::string& station, std::int64_t flags);
  // What an ingester took in, in one transaction: its rows, their hourly counts, then each
  // station heard (flags set on it too). Rows in the order of their keys and stations in name
  // order, so that two ingesters writing the same rows take their locks in the same order and never
  // deadlock.
  void storeReceived(std::span<const EventRow> events, std::span<const HeartbeatRow> heartbeats,
                     std::span<const StationNote> stations);

  // The outbox: rows not yet stored by the server, oldest first.
  std::vector<EventRow> undeliveredEvents(std::size_t most);
  std::vector<HeartbeatRow> undeliveredHeartbeats(std::size_t most);
  void markDelivered(const std::string& station, std::span<const RowKey> events,
                     std::span<const RowKey> heartbeats);
  std::int64_t undeliveredCount();

  // Keeps the history within bounds: delivered rows stored before `olderThanUs` go, then the
  // oldest delivered rows while the store is above `maxBytes`. Rows not delivered stay. The
  // number of rows removed. The hourly counts keep what the removed rows counted.
  std::int64_t prune(std::int64_t olderThanUs, std::int64_t maxBytes);

  std::int64_t eventCount();
  // Whether any event is stored, without counting them.
  bool holdsEvents();

 private:
  void migrate();
  // Write the rows without a transaction of their own; the new ones go into `tally`.
  void writeEvents(std::span<const EventRow> rows, HourlyTally& tally);
  void writeHeartbeats(std::span<const HeartbeatRow> rows, HourlyTally& tally);

  std::unique_ptr<Database> database_;
  std::unique_ptr<Statement> insertEvent_;
  std::unique_ptr<Statement> insertEvents_;  // a block of rows in one statement
  std::unique_ptr<Statement> insertHeartbeat_;
  std::unique_ptr<Statement> insertHeartbeats_;
  std::unique_ptr<Statement> upsertHourly_;
  std::unique_ptr<Statement> noteStation_;
  std::unique_ptr<Statement> flagStation_;
};

}  // namespace ravdel
