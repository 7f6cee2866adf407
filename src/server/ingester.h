#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "server/flood_cap.h"
#include "server/rejection_tally.h"
#include "server/server_log.h"
#include "store/rows.h"
#include "store/store.h"
#include "wire/messages.h"

namespace ravdel {

// A message as the broker handed it over. A payload above the largest message is not kept:
// `bytes` says how large it was.
struct InboundMessage {
  std::string topic;
  std::string payload;
  std::size_t bytes = 0;
};

// One transaction's worth of messages: their rows, the stations heard, and the
// acknowledgements to send once it is committed.
struct IngestBatch {
  std::vector<EventRow> events;
  std::vector<HeartbeatRow> heartbeats;
  std::map<std::string, StationNote> stations;
  std::map<std::string, Ack> acks;  // by station
  std::size_t messages = 0;
};

struct IngestLimits {
  double floodRate = 50;     // events a second per station, sustained
  double floodBurst = 5000;  // events at once
};

// Totals since the start, for the summary.
struct IngestCounts {
  std::int64_t messages = 0;  // taken in, whether stored or refused
  std::int64_t events = 0;    // stored (rows already there count: they are stored)
  std::int64_t heartbeats = 0;
  std::int64_t acks = 0;  // acknowledgements sent
};

// The ingester's judgement of each message and the store's transaction, without the broker.
// One thread (the ingest thread).
class Ingester {
 public:
  Ingester(IngestLimits limits, const ServerLog& log);

  // Reads one message into `batch`: its good rows, the rows turned away (by the checks or the
  // flood cap) and its acknowledgement. A message that cannot be read is counted, logged once
  // per reason and leaves the batch as it was.
  void take(const InboundMessage& message, std::int64_t nowUs, IngestBatch& batch);
  // Stores the batch in one transaction. Throws StoreError; then nothing of it was stored and
  // the same batch may be stored again.
  static void store(Store& store, IngestBatch& batch, std::int64_t nowUs);
  // After the commit: the acknowledgements to send (topic and payload), and the totals.
  std::vector<std::pair<std::string, std::string>> committed(const IngestBatch& batch);

  const IngestCounts& counts() const { return counts_; }
  // Messages refused and rows rejected, with their reasons.
  std::string summary() const;

 private:
  void refuse(const std::string& reason, const std::string& station);
  static StationNote& heard(const std::string& station, std::int64_t nowUs, IngestBatch& batch);
  void turnAway(const std::string& station, const std::vector<Rejection>& rejected,
                const std::vector<std::string>& unnamed, Ack& ack);
  void takeEvents(const std::string& station, ReceivedEvents received, std::int64_t nowUs,
                  IngestBatch& batch);
  void takeHeartbeats(const std::string& station, ReceivedHeartbeats received, std::int64_t nowUs,
                      IngestBatch& batch);
  void capFlood(const std::string& station, ReceivedEvents& received, std::int64_t nowUs,
                IngestBatch& batch);

  const ServerLog& log_;
  FloodCap floodCap_;
  RejectionTally refused_;   // messages, by reason
  RejectionTally rejected_;  // rows, by reason
  IngestCounts counts_;
};

}  // namespace ravdel
