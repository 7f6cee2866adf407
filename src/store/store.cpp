#include "store/store.h"

#include <string_view>

#include "store/hourly_counts.h"
#include "store/row_columns.h"

namespace ravdel {
namespace {

// One step of the schema, in each engine's words where they differ, and what it fills in.
struct Migration {
  std::string_view sqlite;
  std::string_view postgresql;
  void (*fill)(Database&) = nullptr;
};

// Never edit a migration that has shipped: add the next one.
constexpr Migration kMigrations[] = {
    // 1: stations, events, heartbeats
    {R"(
CREATE TABLE stations (station TEXT PRIMARY KEY, lat REAL, lon REAL, first_heard_us INTEGER,
  last_heard_us INTEGER, flags INTEGER NOT NULL DEFAULT 0);
CREATE TABLE events (station TEXT NOT NULL, run_id TEXT NOT NULL, seq INTEGER NOT NULL,
  t_us INTEGER NOT NULL, t_lo_us INTEGER NOT NULL, t_hi_us INTEGER NOT NULL,
  clock_synced INTEGER NOT NULL, x INTEGER, y INTEGER, r INTEGER, g INTEGER, b INTEGER,
  lim INTEGER, width INTEGER, height INTEGER, fourcc TEXT, camera TEXT, frame INTEGER,
  live_s REAL, crop BLOB, lat REAL, lon REAL, flags INTEGER NOT NULL DEFAULT 0,
  stored_us INTEGER NOT NULL, delivered INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY (station, run_id, seq));
CREATE INDEX events_by_time ON events (t_us);
CREATE INDEX events_by_station_time ON events (station, t_us);
CREATE INDEX events_outbox ON events (stored_us) WHERE delivered = 0;
CREATE TABLE heartbeats (station TEXT NOT NULL, run_id TEXT NOT NULL, hb_seq INTEGER NOT NULL,
  from_us INTEGER NOT NULL, to_us INTEGER NOT NULL, live_ms INTEGER NOT NULL,
  frames_delivered INTEGER, frames_analysed INTEGER, frames_dropped INTEGER, events INTEGER,
  masked_pixels INTEGER, leak_paused_ms INTEGER, clock_synced INTEGER, clock_error_us INTEGER,
  stored_us INTEGER NOT NULL, delivered INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY (station, run_id, hb_seq));
CREATE INDEX heartbeats_by_station_time ON heartbeats (station, to_us);
CREATE INDEX heartbeats_outbox ON heartbeats (stored_us) WHERE delivered = 0;
)",
     R"(
CREATE TABLE stations (station TEXT PRIMARY KEY, lat DOUBLE PRECISION, lon DOUBLE PRECISION,
  first_heard_us BIGINT, last_heard_us BIGINT, flags BIGINT NOT NULL DEFAULT 0);
CREATE TABLE events (station TEXT NOT NULL, run_id TEXT NOT NULL, seq BIGINT NOT NULL,
  t_us BIGINT NOT NULL, t_lo_us BIGINT NOT NULL, t_hi_us BIGINT NOT NULL,
  clock_synced INTEGER NOT NULL, x INTEGER, y INTEGER, r INTEGER, g INTEGER, b INTEGER,
  lim INTEGER, width INTEGER, height INTEGER, fourcc TEXT, camera TEXT, frame BIGINT,
  live_s DOUBLE PRECISION, crop BYTEA, lat DOUBLE PRECISION, lon DOUBLE PRECISION,
  flags BIGINT NOT NULL DEFAULT 0, stored_us BIGINT NOT NULL, delivered INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY (station, run_id, seq));
CREATE INDEX events_by_time ON events (t_us);
CREATE INDEX events_by_station_time ON events (station, t_us);
CREATE INDEX events_outbox ON events (stored_us) WHERE delivered = 0;
CREATE TABLE heartbeats (station TEXT NOT NULL, run_id TEXT NOT NULL, hb_seq BIGINT NOT NULL,
  from_us BIGINT NOT NULL, to_us BIGINT NOT NULL, live_ms BIGINT NOT NULL,
  frames_delivered BIGINT, frames_analysed BIGINT, frames_dropped BIGINT, events BIGINT,
  masked_pixels BIGINT, leak_paused_ms BIGINT, clock_synced INTEGER, clock_error_us BIGINT,
  stored_us BIGINT NOT NULL, delivered INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY (station, run_id, hb_seq));
CREATE INDEX heartbeats_by_station_time ON heartbeats (station, to_us);
CREATE INDEX heartbeats_outbox ON heartbeats (stored_us) WHERE delivered = 0;
)"},
    // 2: hourly counts per station, kept up to date by every insert
    {R"(
CREATE TABLE hourly_counts (station TEXT NOT NULL, hour_us INTEGER NOT NULL,
  events INTEGER NOT NULL DEFAULT 0, live_ms INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (station, hour_us));
)",
     R"(
CREATE TABLE hourly_counts (station TEXT NOT NULL, hour_us BIGINT NOT NULL,
  events BIGINT NOT NULL DEFAULT 0, live_ms BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY (station, hour_us));
)",
     fillHourlyCounts},
    // 3: a station's events by time carry their intervals, so that the coincidence search
    // reads the index alone, not every row with its crop (written so that a store set back to
    // an earlier version migrates again)
    {R"(
CREATE INDEX IF NOT EXISTS events_by_station_span ON events (station, t_us, t_lo_us, t_hi_us,
  flags);
DROP INDEX IF EXISTS events_by_station_time;
)",
     R"(
CREATE INDEX IF NOT EXISTS events_by_station_span ON events (station, t_us)
  INCLUDE (t_lo_us, t_hi_us, flags);
DROP INDEX IF EXISTS events_by_station_time;
)"},
};

static_assert(std::size(kMigrations) == Store::kSchemaVersion);

constexpr int kEventFields = 25;
constexpr int kHeartbeatFields = 16;
// Rows written by one statement: a round trip for each row would bound a PostgreSQL ingester
// to the network's latency.
constexpr std::size_t kRowsPerInsert = 32;

// "($1, ... $N), ($N+1, ...)" for `rows` rows of `count` fields.
std::string placeholders(int count, std::size_t rows) {
  std::string text;
  int n = 0;
  for (std::size_t row = 0; row < rows; ++row) {
    text += row == 0 ? "(" : ", (";
    for (int i = 1; i <= count; ++i)
      text += (i == 1 ? "$" : ", $") + std::to_string(++n);
    text += ")";
  }
  return text;
}

// A row comes back only when it was new: what the hourly counts add up.
std::string insertSql(std::string_view table, std::string_view columns, int count,
                      std::string_view key, std::size_t rows, std::string_view counted) {
  return "INSERT INTO " + std::string(table) + " (" + std::string(columns) + ") VALUES " +
         placeholders(count, rows) + " ON CONFLICT (" + std::string(key) +
         ") DO NOTHING RETURNING " + std::string(counted);
}

// What a new row adds to the hourly counts: the columns its insert returns (kEventCounted,
// kHeartbeatCounted).
constexpr std::string_view kEventCounted = "station, t_us, flags";
constexpr std::string_view kHeartbeatCounted = "station, from_us, to_us, live_ms";

void countEvent(const Statement& s, HourlyTally& tally) {
  tally.addEvent(s.text(0), s.integer(1), s.integer(2));
}

void countHeartbeat(const Statement& s, HourlyTally& tally) {
  tally.addLive(s.text(0), s.integer(1), s.integer(2), s.integer(3));
}

// Runs an insert and counts the rows it returns, the new ones only.
void runCounted(Statement& insert, HourlyTally& tally,
                void (*count)(const Statement&, HourlyTally&)) {
  while (insert.step())
    count(insert, tally);
  insert.reset();  // a statement left running would hold up the commit
}

// Whole blocks through `block`, the rest one by one through `one`.
template <class Row>
void writeRows(std::span<const Row> rows, Statement& one, Statement& block, int fields,
               void (*bind)(Statement&, const Row&, int), HourlyTally& tally,
               void (*count)(const Statement&, HourlyTally&)) {
  std::size_t at = 0;
  for (; rows.size() - at >= kRowsPerInsert; at += kRowsPerInsert) {
    block.reset();
    for (std::size_t k = 0; k < kRowsPerInsert; ++k)
      bind(block, rows[at + k], static_cast<int>(k) * fields);
    runCounted(block, tally, count);
  }
  for (; at < rows.size(); ++at) {
    one.reset();
    bind(one, rows[at], 0);
    runCounted(one, tally, count);
  }
}

void bindEvent(Statement& s, const EventRow& e, int at) {
  s.bind(at + 1, e.station);
  s.bind(at + 2, e.runId);
  s.bind(at + 3, e.seq);
  s.bind(at + 4, e.tUs);
  s.bind(at + 5, e.tLoUs);
  s.bind(at + 6, e.tHiUs);
  s.bind(at + 7, std::int64_t{e.clockSynced ? 1 : 0});
  s.bind(at + 8, e.x);
  s.bind(at + 9, e.y);
  s.bind(at + 10, e.r);
  s.bind(at + 11, e.g);
  s.bind(at + 12, e.b);
  s.bind(at + 13, e.limit);
  s.bind(at + 14, e.width);
  s.bind(at + 15, e.height);
  s.bind(at + 16, e.fourcc);
  s.bind(at + 17, e.camera);
  s.bind(at + 18, e.frame);
  s.bind(at + 19, e.liveSeconds);
  s.bindBlob(at + 20, e.crop);
  s.bind(at + 21, e.lat);
  s.bind(at + 22, e.lon);
  s.bind(at + 23, e.flags);
  s.bind(at + 24, e.storedUs);
  s.bind(at + 25, std::int64_t{e.delivered ? 1 : 0});
}

}  // namespace

EventRow readEvent(const Statement& s) {
  EventRow e;
  e.station = s.text(0);
  e.runId = s.text(1);
  e.seq = s.integer(2);
  e.tUs = s.integer(3);
  e.tLoUs = s.integer(4);
  e.tHiUs = s.integer(5);
  e.clockSynced = s.integer(6) != 0;
  e.x = s.integer(7);
  e.y = s.integer(8);
  e.r = s.integer(9);
  e.g = s.integer(10);
  e.b = s.integer(11);
  e.limit = s.integer(12);
  e.width = s.integer(13);
  e.height = s.integer(14);
  e.fourcc = s.text(15);
  e.camera = s.text(16);
  e.frame = s.integer(17);
  e.liveSeconds = s.real(18);
  if (!s.isNull(19)) e.crop = s.blob(19);
  e.lat = s.optionalReal(20);
  e.lon = s.optionalReal(21);
  e.flags = s.integer(22);
  e.storedUs = s.integer(23);
  e.delivered = s.integer(24) != 0;
  return e;
}

namespace {

void bindHeartbeat(Statement& s, const HeartbeatRow& h, int at) {
  s.bind(at + 1, h.station);
  s.bind(at + 2, h.runId);
  s.bind(at + 3, h.hbSeq);
  s.bind(at + 4, h.fromUs);
  s.bind(at + 5, h.toUs);
  s.bind(at + 6, h.liveMs);
  s.bind(at + 7, h.framesDelivered);
  s.bind(at + 8, h.framesAnalysed);
  s.bind(at + 9, h.framesDropped);
  s.bind(at + 10, h.events);
  s.bind(at + 11, h.maskedPixels);
  s.bind(at + 12, h.leakPausedMs);
  s.bind(at + 13, std::int64_t{h.clockSynced ? 1 : 0});
  s.bind(at + 14, h.clockErrorUs);
  s.bind(at + 15, h.storedUs);
  s.bind(at + 16, std::int64_t{h.delivered ? 1 : 0});
}

}  // namespace

HeartbeatRow readHeartbeat(const Statement& s) {
  HeartbeatRow h;
  h.station = s.text(0);
  h.runId = s.text(1);
  h.hbSeq = s.integer(2);
  h.fromUs = s.integer(3);
  h.toUs = s.integer(4);
  h.liveMs = s.integer(5);
  h.framesDelivered = s.integer(6);
  h.framesAnalysed = s.integer(7);
  h.framesDropped = s.integer(8);
  h.events = s.integer(9);
  h.maskedPixels = s.integer(10);
  h.leakPausedMs = s.integer(11);
  h.clockSynced = s.integer(12) != 0;
  h.clockErrorUs = s.integer(13);
  h.storedUs = s.integer(14);
  h.delivered = s.integer(15) != 0;
  return h;
}

namespace {

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::unique_ptr<Store> Store::open(const std::string& location) {
  if (startsWith(location, "postgresql://") || startsWith(location, "postgres://"))
    return std::make_unique<Store>(openPostgres(location));
  const std::string path = startsWith(location, "sqlite:") ? location.substr(7) : location;
  return std::make_unique<Store>(openSqlite(path));
}

Store::Store(std::unique_ptr<Database> database) : database_(std::move(database)) {
  migrate();
  constexpr std::string_view kEventKey = "station, run_id, seq";
  constexpr std::string_view kHeartbeatKey = "station, run_id, hb_seq";
  insertEvent_ = database_->prepare(
      insertSql("events", kEventColumns, kEventFields, kEventKey, 1, kEventCounted));
  insertEvents_ = database_->prepare(
      insertSql("events", kEventColumns, kEventFields, kEventKey, kRowsPerInsert, kEventCounted));
  insertHeartbeat_ = database_->prepare(insertSql("heartbeats", kHeartbeatColumns, kHeartbeatFields,
                                                  kHeartbeatKey, 1, kHeartbeatCounted));
  insertHeartbeats_ =
      database_->prepare(insertSql("heartbeats", kHeartbeatColumns, kHeartbeatFields, kHeartbeatKey,
                                   kRowsPerInsert, kHeartbeatCounted));
  upsertHourly_ = database_->prepare(kHourlyUpsertSql);
  noteStation_ = database_->prepare(
      "INSERT INTO stations (station, lat, lon, first_heard_us, last_heard_us) "
      "VALUES ($1, $2, $3, $4, $4) ON CONFLICT (station) DO UPDATE SET "
      "lat = COALESCE(excluded.lat, stations.lat), lon = COALESCE(excluded.lon, stations.lon), "
      "first_heard_us = COALESCE(stations.first_heard_us, excluded.first_heard_us), "
      "last_heard_us = CASE WHEN stations.last_heard_us IS NULL OR "
      "excluded.last_heard_us > stations.last_heard_us "
      "THEN excluded.last_heard_us ELSE stations.last_heard_us END");
  flagStation_ = database_->prepare(
      "INSERT INTO stations (station, flags) VALUES ($1, $2) ON CONFLICT (station) DO UPDATE "
      "SET flags = stations.flags | excluded.flags");
}

// Each migration in a transaction of its own, under a lock, so that two programs starting
// together neither both apply one nor see half of one. The version table is made under the
// lock too: PostgreSQL lets two sessions that create the same table at once fail.
void Store::migrate() {
  for (;;) {
    Transaction transaction(*database_);
    database_->lockSchema();
    database_->execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    const int version = schemaVersion();
    if (version > kSchemaVersion) {
      throw StoreError("the store's schema is version " + std::to_string(version) +
                       ", newer than this program's " + std::to_string(kSchemaVersion));
    }
    if (version == kSchemaVersion) return;
    const Migration& step = kMigrations[version];
    database_->execute(database_->engine() == Engine::sqlite ? step.sqlite : step.postgresql);
    if (step.fill != nullptr) step.fill(*database_);
    database_->execute("DELETE FROM schema_version");
    database_->execute("INSERT INTO schema_version (version) VALUES (" +
                       std::to_string(version + 1) + ")");
    transaction.commit();
  }
}

int Store::schemaVersion() {
  const auto query = database_->prepare("SELECT max(version) FROM schema_version");
  if (!query->step() || query->isNull(0)) return 0;
  return static_cast<int>(query->integer(0));
}

void Store::writeEvents(std::span<const EventRow> rows, HourlyTally& tally) {
  writeRows(rows, *insertEvent_, *insertEvents_, kEventFields, &bindEvent, tally, &countEvent);
}

void Store::writeHeartbeats(std::span<const HeartbeatRow> rows, HourlyTally& tally) {
  writeRows(rows, *insertHeartbeat_, *insertHeartbeats_, kHeartbeatFields, &bindHeartbeat, tally,
            &countHeartbeat);
}

void Store::insertEvents(std::span<const EventRow> rows) {
  Transaction transaction(*database_);
  HourlyTally tally;
  writeEvents(rows, tally);
  tally.flush(*upsertHourly_);
  transaction.commit();
}

void Store::insertHeartbeats(std::span<const HeartbeatRow> rows) {
  Transaction transaction(*database_);
  HourlyTally tally;
  writeHeartbeats(rows, tally);
  tally.flush(*upsertHourly_);
  transaction.commit();
}

void Store::rebuildHourlyCounts() {
  Transaction transaction(*database_);
  database_->execute("DELETE FROM hourly_counts");
  fillHourlyCounts(*database_);
  transaction.commit();
}

void Store::noteStation(const std::string& station, std::optional<double> lat,
                        std::optional<double> lon, std::int64_t heardUs) {
  noteStation_->reset();
  noteStation_->bind(1, station);
  noteStation_->bind(2, lat);
  noteStation_->bind(3, lon);
  noteStation_->bind(4, heardUs);
  noteStation_->step();
}

void Store::flagStation(const std::string& station, std::int64_t flags) {
  flagStation_->reset();
  flagStation_->bind(1, station);
  flagStation_->bind(2, flags);
  flagStation_->step();
}

void Store::storeReceived(std::span<const EventRow> events,
                          std::span<const HeartbeatRow> heartbeats,
                          std::span<const StationNote> stations) {
  Transaction transaction(*database_);
  HourlyTally tally;
  writeEvents(events, tally);
  writeHeartbeats(heartbeats, tally);
  tally.flush(*upsertHourly_);
  for (const StationNote& note : stations) {
    noteStation(note.station, note.lat, note.lon, note.heardUs);
    if (note.flags != 0) flagStation(note.station, note.flags);
  }
  transaction.commit();
}

std::vector<EventRow> Store::undeliveredEvents(std::size_t most) {
  const auto query = database_->prepare("SELECT " + std::string(kEventColumns) +
                                        " FROM events WHERE delivered = 0 ORDER BY stored_us, "
                                        "run_id, seq LIMIT $1");
  query->bind(1, static_cast<std::int64_t>(most));
  std::vector<EventRow> rows;
  while (query->step())
    rows.push_back(readEvent(*query));
  return rows;
}

std::vector<HeartbeatRow> Store::undeliveredHeartbeats(std::size_t most) {
  const auto query = database_->prepare("SELECT " + std::string(kHeartbeatColumns) +
                                        " FROM heartbeats WHERE delivered = 0 ORDER BY stored_us, "
                                        "run_id, hb_seq LIMIT $1");
  query->bind(1, static_cast<std::int64_t>(most));
  std::vector<HeartbeatRow> rows;
  while (query->step())
    rows.push_back(readHeartbeat(*query));
  return rows;
}

void Store::markDelivered(const std::string& station, std::span<const RowKey> events,
                          std::span<const RowKey> heartbeats) {
  Transaction transaction(*database_);
  const auto markEvent = database_->prepare(
      "UPDATE events SET delivered = 1 WHERE station = $1 AND run_id = $2 AND seq = $3");
  for (const RowKey& key : events) {
    markEvent->reset();
    markEvent->bind(1, station);
    markEvent->bind(2, key.runId);
    markEvent->bind(3, key.seq);
    markEvent->step();
  }
  const auto markHeartbeat = database_->prepare(
      "UPDATE heartbeats SET delivered = 1 WHERE station = $1 AND run_id = $2 AND hb_seq = $3");
  for (const RowKey& key : heartbeats) {
    markHeartbeat->reset();
    markHeartbeat->bind(1, station);
    markHeartbeat->bind(2, key.runId);
    markHeartbeat->bind(3, key.seq);
    markHeartbeat->step();
  }
  transaction.commit();
}

std::int64_t Store::undeliveredCount() {
  const auto query = database_->prepare(
      "SELECT (SELECT count(*) FROM events WHERE delivered = 0) + "
      "(SELECT count(*) FROM heartbeats WHERE delivered = 0)");
  return query->step() ? query->integer(0) : 0;
}

std::int64_t Store::eventCount() {
  const auto query = database_->prepare("SELECT count(*) FROM events");
  return query->step() ? query->integer(0) : 0;
}

bool Store::holdsEvents() {
  const auto query =
      database_->prepare("SELECT count(*) FROM (SELECT 1 FROM events LIMIT 1) AS one");
  return query->step() && query->integer(0) != 0;
}

std::int64_t Store::prune(std::int64_t olderThanUs, std::int64_t maxBytes) {
  std::int64_t removed = 0;
  const auto removeOld = [&](std::string_view table) {
    const auto statement = database_->prepare("DELETE FROM " + std::string(table) +
                                              " WHERE delivered = 1 AND stored_us < $1");
    statement->bind(1, olderThanUs);
    statement->step();
  };
  const auto count = [&] { return eventCount(); };
  const std::int64_t before = count();
  removeOld("events");
  removeOld("heartbeats");
  // Oldest delivered events first, a thousand at a time, until the store fits again.
  while (database_->sizeBytes() > maxBytes) {
    const auto oldest = database_->prepare(
        "DELETE FROM events WHERE (station, run_id, seq) IN (SELECT station, run_id, seq FROM "
        "events WHERE delivered = 1 ORDER BY stored_us LIMIT 1000)");
    const std::int64_t left = count();
    oldest->step();
    if (count() == left) break;  // nothing delivered is left to remove
  }
  removed = before - count();
  return removed;
}

}  // namespace ravdel
