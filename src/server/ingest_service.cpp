#include "server/ingest_service.h"

#include <chrono>

namespace ravdel {
namespace {

using std::chrono::seconds;

constexpr std::size_t kBatchMessages = 256;  // one transaction at most
constexpr seconds kLongestRetry{30};
constexpr auto kAckFlushLimit = std::chrono::seconds(5);

// The shared subscription: the broker hands each message to one ingester of the group.
const std::vector<std::string>& subscriptions() {
  static const std::vector<std::string> filters = {"$share/ravdel-ingest/ravdel/+/events",
                                                   "$share/ravdel-ingest/ravdel/+/heartbeats"};
  return filters;
}

std::int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

IngestService::IngestService(IngestSettings settings, const ServerLog& log)
    : settings_(std::move(settings)), log_(log), ingester_(settings_.limits, log) {
  const std::string where =
      "the broker at " + settings_.broker.host + ":" + std::to_string(settings_.broker.port);
  broker_ = std::make_unique<BrokerClient>(
      settings_.broker,
      [this](std::string_view topic, std::string_view payload) { received(topic, payload); },
      [this, where](bool connected, const std::string& why) {
        log_.say(connected ? "connected to " + where : where + ": " + why);
      });
}

// The network thread goes first: it calls received(), which needs the queue.
IngestService::~IngestService() {
  broker_.reset();
}

void IngestService::received(std::string_view topic, std::string_view payload) {
  InboundMessage message{std::string(topic), {}, payload.size()};
  if (payload.size() <= kMaxMessageBytes) message.payload = payload;
  {
    const std::lock_guard lock(mutex_);
    if (queuedBytes_ + message.payload.size() > settings_.maxQueuedBytes) {
      ++dropped_;
      return;
    }
    queuedBytes_ += message.payload.size();
    queue_.push_back(std::move(message));
  }
  changed_.notify_one();
}

void IngestService::requestStop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

bool IngestService::stopRequested() const {
  const std::lock_guard lock(mutex_);
  return stopping_;
}

bool IngestService::waitForRetry(seconds delay) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, delay, [this] { return stopping_; });
  return !stopping_;
}

void IngestService::run() {
  broker_->start();
  std::optional<IngestBatch> pending;  // read, not yet committed: tried again as it is
  seconds delay(1);
  while (!stopRequested()) {
    if (!store_) {
      if (!openStore()) {
        waitForRetry(delay);
        delay = std::min(delay * 2, kLongestRetry);
        continue;
      }
      delay = seconds(1);
      broker_->subscribe(subscriptions());
    }
    if (!pending) pending = nextBatch();
    if (!pending) continue;
    if (!commit(*pending)) {
      broker_->unsubscribe();  // the other ingesters take the stations' messages meanwhile
      continue;
    }
    acknowledge(*pending);
    pending.reset();
  }
  broker_->unsubscribe();
  if (!broker_->flush(kAckFlushLimit))
    log_.say("the broker did not confirm every acknowledgement; their stations send again");
  broker_->stop();
}

bool IngestService::openStore() {
  try {
    store_ = Store::open(settings_.store);
  } catch (const StoreError& e) {
    if (lastStoreError_ != e.what()) log_.say(std::string(e.what()) + "; trying again");
    lastStoreError_ = e.what();
    return false;
  }
  log_.say(lastStoreError_.empty() ? "the store is open" : "the store is back");
  lastStoreError_.clear();
  return true;
}

// Waits up to a second for messages; what is queued by then, read into one batch.
std::optional<IngestBatch> IngestService::nextBatch() {
  std::vector<InboundMessage> messages;
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, seconds(1), [this] { return stopping_ || !queue_.empty(); });
    while (!queue_.empty() && messages.size() < kBatchMessages) {
      queuedBytes_ -= queue_.front().payload.size();
      messages.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
  }
  if (messages.empty()) return std::nullopt;
  IngestBatch batch;
  const std::int64_t now = nowUs();
  for (const InboundMessage& message : messages)
    ingester_.take(message, now, batch);
  return batch;
}

bool IngestService::commit(IngestBatch& batch) {
  if (batch.events.empty() && batch.heartbeats.empty() && batch.stations.empty()) return true;
  try {
    Ingester::store(*store_, batch, nowUs());
    return true;
  } catch (const StoreError& e) {
    lastStoreError_ = e.what();
    log_.say(std::string("the store failed, nothing of the last ") +
             std::to_string(batch.messages) + " messages is acknowledged: " + e.what());
    store_.reset();
    return false;
  }
}

void IngestService::acknowledge(const IngestBatch& batch) {
  for (const auto& [topic, payload] : ingester_.committed(batch))
    broker_->publish(topic, payload);  // a lost one costs a resend, which is stored once
}

std::string IngestService::summary() const {
  return ingester_.summary() + "; " + std::to_string(dropped_.load()) +
         " messages dropped unacknowledged while the store was behind";
}

}  // namespace ravdel
