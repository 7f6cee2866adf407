#include "server/ingester.h"

#include <algorithm>

namespace ravdel {
namespace {

template <class Row>
void sortByKey(std::vector<Row>& rows, std::int64_t Row::*seq) {
  std::sort(rows.begin(), rows.end(), [seq](const Row& a, const Row& b) {
    return std::tie(a.station, a.runId, a.*seq) < std::tie(b.station, b.runId, b.*seq);
  });
}

bool empty(const Ack& ack) {
  return ack.events.empty() && ack.heartbeats.empty() && ack.rejected.empty();
}

}  // namespace

Ingester::Ingester(IngestLimits limits, const ServerLog& log)
    : log_(log), floodCap_(limits.floodRate, limits.floodBurst) {}

void Ingester::take(const InboundMessage& message, std::int64_t nowUs, IngestBatch& batch) {
  ++counts_.messages;
  const auto topic = splitStationTopic(message.topic);
  if (!topic) return refuse("not a station's topic", "");
  const std::string& station = topic->station;
  if (message.bytes > kMaxMessageBytes) return refuse("larger than 1 MiB", station);
  if (topic->leaf == "events") {
    takeEvents(station, parseEvents(station, message.payload, nowUs), nowUs, batch);
  } else if (topic->leaf == "heartbeats") {
    takeHeartbeats(station, parseHeartbeats(station, message.payload, nowUs), nowUs, batch);
  } else {
    refuse("neither events nor heartbeats", station);
  }
}

void Ingester::takeEvents(const std::string& station, ReceivedEvents received, std::int64_t nowUs,
                          IngestBatch& batch) {
  if (!received.ok()) return refuse(received.failure, station);
  capFlood(station, received, nowUs, batch);
  StationNote& note = heard(station, nowUs, batch);
  Ack& ack = batch.acks[station];
  for (EventRow& row : received.rows) {
    ack.events.push_back({row.runId, row.seq});
    if (row.lat) {
      note.lat = row.lat;
      note.lon = row.lon;
    }
    batch.events.push_back(std::move(row));
  }
  turnAway(station, received.rejected, received.unnamed, ack);
  ++batch.messages;
}

void Ingester::takeHeartbeats(const std::string& station, ReceivedHeartbeats received,
                              std::int64_t nowUs, IngestBatch& batch) {
  if (!received.ok()) return refuse(received.failure, station);
  heard(station, nowUs, batch);
  Ack& ack = batch.acks[station];
  for (HeartbeatRow& row : received.rows) {
    ack.heartbeats.push_back({row.runId, row.hbSeq});
    batch.heartbeats.push_back(std::move(row));
  }
  turnAway(station, received.rejected, received.unnamed, ack);
  ++batch.messages;
}

StationNote& Ingester::heard(const std::string& station, std::int64_t nowUs, IngestBatch& batch) {
  StationNote& note = batch.stations[station];
  note.station = station;
  note.heardUs = nowUs;
  return note;
}

// Rejected rows are counted, said once per reason and acknowledged; rows without a key can
// only be counted and said.
void Ingester::turnAway(const std::string& station, const std::vector<Rejection>& rejected,
                        const std::vector<std::string>& unnamed, Ack& ack) {
  for (const Rejection& r : rejected) {
    if (rejected_.count(r.kind + " from " + station + ": " + r.reason))
      log_.say("rejected " + std::string(r.kind == "event" ? "an " : "a ") + r.kind + " from " +
               station + ": " + r.reason + " (more of these are only counted)");
  }
  for (const std::string& reason : unnamed) {
    if (rejected_.count("row without a key from " + station + ": " + reason))
      log_.say("rejected a row without a key from " + station + ": " + reason +
               " (more of these are only counted)");
  }
  ack.rejected.insert(ack.rejected.end(), rejected.begin(), rejected.end());
}

// Events beyond the station's cap are rejected as "flood" (acknowledged, so the station stops
// sending them) and the station is flagged.
void Ingester::capFlood(const std::string& station, ReceivedEvents& received, std::int64_t nowUs,
                        IngestBatch& batch) {
  const std::size_t allowed = floodCap_.allow(station, received.rows.size(), nowUs);
  if (allowed == received.rows.size()) return;
  for (std::size_t i = allowed; i < received.rows.size(); ++i)
    received.rejected.push_back({"event", {received.rows[i].runId, received.rows[i].seq}, "flood"});
  received.rows.resize(allowed);
  batch.stations[station].flags |= kStationFlooded;
}

void Ingester::refuse(const std::string& reason, const std::string& station) {
  const std::string from = station.empty() ? "" : " from " + station;
  if (refused_.count("message" + from + ": " + reason))
    log_.say("refused a message" + from + ": " + reason + " (more of these are only counted)");
}

void Ingester::store(Store& store, IngestBatch& batch, std::int64_t nowUs) {
  for (EventRow& row : batch.events)
    row.storedUs = nowUs;
  for (HeartbeatRow& row : batch.heartbeats)
    row.storedUs = nowUs;
  sortByKey(batch.events, &EventRow::seq);
  sortByKey(batch.heartbeats, &HeartbeatRow::hbSeq);
  std::vector<StationNote> notes;
  for (const auto& [name, note] : batch.stations)
    notes.push_back(note);
  store.storeReceived(batch.events, batch.heartbeats, notes);
}

std::vector<std::pair<std::string, std::string>> Ingester::committed(const IngestBatch& batch) {
  counts_.events += static_cast<std::int64_t>(batch.events.size());
  counts_.heartbeats += static_cast<std::int64_t>(batch.heartbeats.size());
  std::vector<std::pair<std::string, std::string>> acks;
  for (const auto& [station, ack] : batch.acks) {
    if (!empty(ack)) acks.emplace_back(stationTopic(station, "ack"), encodeAck(ack));
  }
  counts_.acks += static_cast<std::int64_t>(acks.size());
  return acks;
}

std::string Ingester::summary() const {
  return std::to_string(counts_.messages) + " messages, " + std::to_string(counts_.events) +
         " events and " + std::to_string(counts_.heartbeats) + " heartbeats stored, " +
         std::to_string(counts_.acks) +
         " acknowledgements; refused messages: " + refused_.summary() +
         "; rejected rows: " + rejected_.summary();
}

}  // namespace ravdel
