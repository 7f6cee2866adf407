#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "server/broker_client.h"
#include "server/ingester.h"
#include "server/server_log.h"
#include "store/store.h"

namespace ravdel {

struct IngestSettings {
  BrokerSettings broker;
  std::string store = "sqlite:ravdel-network.db";
  IngestLimits limits;
  std::size_t maxQueuedBytes = std::size_t{64} << 20;  // received, not yet stored
};

// ravdel-ingest's work: messages from the broker's shared subscription into the store, an
// acknowledgement to each station after every commit.
//
// Two threads. The broker client's network thread only queues what arrives (received()). The
// thread that calls run() (the ingest thread) reads, stores and acknowledges, one transaction
// per batch of queued messages. When the store fails, the batch is kept and nothing of it is
// acknowledged; the ingester leaves the shared subscription, so that the broker hands the
// stations' messages to the other ingesters, and joins it again once the store is back.
class IngestService {
 public:
  IngestService(IngestSettings settings, const ServerLog& log);
  ~IngestService();
  IngestService(const IngestService&) = delete;
  IngestService& operator=(const IngestService&) = delete;

  // Runs until stop() is asked for, then acknowledges what is stored and disconnects. Throws
  // std::runtime_error when the broker settings cannot be used at all.
  void run();
  // Any thread (the signal watcher's).
  void requestStop();
  // The totals, for the end.
  std::string summary() const;

 private:
  void received(std::string_view topic, std::string_view payload);  // network thread
  bool stopRequested() const;
  bool waitForRetry(std::chrono::seconds delay);
  bool openStore();
  std::optional<IngestBatch> nextBatch();
  bool commit(IngestBatch& batch);
  void acknowledge(const IngestBatch& batch);

  IngestSettings settings_;
  const ServerLog& log_;
  Ingester ingester_;             // ingest thread
  std::unique_ptr<Store> store_;  // ingest thread; none while the store is away
  std::string lastStoreError_;    // ingest thread: said once until the store is back
  std::unique_ptr<BrokerClient> broker_;

  mutable std::mutex mutex_;  // Protects queue_, queuedBytes_ and stopping_.
  std::condition_variable changed_;
  std::deque<InboundMessage> queue_;
  std::size_t queuedBytes_ = 0;
  bool stopping_ = false;
  std::atomic<std::int64_t> dropped_{0};  // queue full: not acknowledged, so sent again
};

}  // namespace ravdel
