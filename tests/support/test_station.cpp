#include "support/test_station.h"

#include <chrono>

#include "support/child_process.h"

namespace ravdel::test {
namespace {

// Sooner than a station would: the tests' ingesters may not have subscribed yet.
constexpr std::chrono::milliseconds kResendAfter{500};

}  // namespace

TestStation::TestStation(std::string name, BrokerSettings settings,
                         std::vector<std::string> moreSubscriptions, AckCheck onAck)
    : name_(std::move(name)) {
  client_ = std::make_unique<BrokerClient>(
      std::move(settings),
      [this, onAck](std::string_view topic, std::string_view payload) {
        std::optional<Ack> ack;
        if (topic == stationTopic(name_, "ack")) ack = parseAck(payload);
        if (ack && onAck) onAck(*ack);
        const std::lock_guard lock(mutex_);
        topics_.emplace_back(topic);
        if (ack) acks_.push_back(std::move(*ack));
      },
      nullptr);
  moreSubscriptions.push_back(stationTopic(name_, "ack"));
  client_->subscribe(std::move(moreSubscriptions));
  client_->start();
}

bool TestStation::waitConnected(std::chrono::milliseconds limit) {
  return eventually([this] { return client_->connected(); }, limit);
}

bool TestStation::send(const std::string& topic, const std::string& payload) {
  return client_->publish(topic, payload);
}

bool TestStation::sendEvents(const std::vector<EventRow>& rows) {
  return send(stationTopic(name_, "events"), encodeEvents(name_, rows));
}

bool TestStation::sendHeartbeats(const std::vector<HeartbeatRow>& rows) {
  return send(stationTopic(name_, "heartbeats"), encodeHeartbeats(name_, rows));
}

bool TestStation::answered(const std::vector<EventRow>& rows) const {
  const std::set<RowKey> stored = storedEvents(), rejected = rejectedEvents();
  for (const EventRow& row : rows) {
    const RowKey key{row.runId, row.seq};
    if (!stored.contains(key) && !rejected.contains(key)) return false;
  }
  return true;
}

bool TestStation::sendUntilAcked(const std::vector<EventRow>& rows,
                                 std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    sendEvents(rows);
    if (eventually([&] { return answered(rows); }, kResendAfter)) return true;
  }
  return false;
}

bool TestStation::waitForAcks(std::size_t count, std::chrono::milliseconds limit) {
  return eventually([&] { return acks().size() >= count; }, limit);
}

std::vector<Ack> TestStation::acks() const {
  const std::lock_guard lock(mutex_);
  return acks_;
}

std::set<RowKey> TestStation::storedEvents() const {
  std::set<RowKey> keys;
  for (const Ack& ack : acks())
    keys.insert(ack.events.begin(), ack.events.end());
  return keys;
}

std::set<RowKey> TestStation::rejectedEvents() const {
  std::set<RowKey> keys;
  for (const Ack& ack : acks()) {
    for (const Rejection& rejection : ack.rejected)
      keys.insert(rejection.key);
  }
  return keys;
}

std::vector<std::string> TestStation::topicsReceived() const {
  const std::lock_guard lock(mutex_);
  return topics_;
}

}  // namespace ravdel::test
