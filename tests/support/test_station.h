#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "server/broker_client.h"
#include "store/rows.h"
#include "wire/messages.h"

namespace ravdel::test {

// The station's side of the broker as tests and benchmarks need it: publishes batches under
// ravdel/<name>/ and collects what the server acknowledges on ravdel/<name>/ack (and whatever
// else it subscribed to). Callbacks run on the client's network thread; the collected
// messages are guarded for the test's thread.
class TestStation {
 public:
  // Runs on the network thread as each acknowledgement comes, before it is counted.
  using AckCheck = std::function<void(const Ack&)>;

  TestStation(std::string name, BrokerSettings settings,
              std::vector<std::string> moreSubscriptions = {}, AckCheck onAck = nullptr);

  const std::string& name() const { return name_; }
  bool waitConnected(std::chrono::milliseconds limit = std::chrono::seconds(30));
  bool sendEvents(const std::vector<EventRow>& rows);
  bool sendHeartbeats(const std::vector<HeartbeatRow>& rows);
  bool send(const std::string& topic, const std::string& payload);
  // Sends until an acknowledgement has named every event as stored or rejected, again every
  // half second (as a station does, more patiently, when no acknowledgement comes); false
  // after `limit`.
  bool sendUntilAcked(const std::vector<EventRow>& rows,
                      std::chrono::milliseconds limit = std::chrono::seconds(60));
  bool waitForAcks(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(60));

  std::vector<Ack> acks() const;
  std::set<RowKey> storedEvents() const;  // every event an acknowledgement called stored
  std::set<RowKey> rejectedEvents() const;
  // Topics of every message received, in order.
  std::vector<std::string> topicsReceived() const;

 private:
  bool answered(const std::vector<EventRow>& rows) const;

  std::string name_;
  mutable std::mutex mutex_;  // Protects acks_ and topics_, written by the network thread.
  std::vector<Ack> acks_;
  std::vector<std::string> topics_;
  std::unique_ptr<BrokerClient> client_;  // last: its thread goes before what it writes
};

}  // namespace ravdel::test
