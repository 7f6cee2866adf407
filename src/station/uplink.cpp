#include "station/uplink.h"

#include <mosquitto.h>

#include <algorithm>
#include <span>
#include <utility>

#include "platform/thread_name.h"
#include "store/store.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr std::chrono::milliseconds kLongestRetry{60000};
constexpr std::chrono::milliseconds kLookEvery{1000};
constexpr std::size_t kMostInFlight = 2000;  // rows; more wait in the store

// libmosquitto's set-up, once for the process, before any client.
void initialiseLibrary() {
  static const int initialised = mosquitto_lib_init();
  (void)initialised;
}

Uplink& uplinkOf(void* self) {
  return *static_cast<Uplink*>(self);
}

std::int64_t inFlightRows(const std::map<RowKey, std::chrono::steady_clock::time_point>& a,
                          const std::map<RowKey, std::chrono::steady_clock::time_point>& b) {
  return static_cast<std::int64_t>(a.size() + b.size());
}

}  // namespace

Uplink::Uplink(UplinkSettings settings) : settings_(std::move(settings)) {
  initialiseLibrary();
  thread_ = std::thread(&Uplink::run, this);
}

Uplink::~Uplink() {
  stop_.store(true);
  thread_.join();
}

void Uplink::wake() {
  wakes_.fetch_add(1);
  pending_.store(true);
}

void Uplink::drain(std::chrono::milliseconds most) {
  const Clock::time_point until = Clock::now() + most;
  wake();
  const std::uint64_t mine = wakes_.load();
  // The thread counts the outbox at least once a second, and after every acknowledgement; a
  // count begun before this wake may miss the last rows, so only a later one says none wait.
  while (Clock::now() < until && connectedShown_.load() &&
         (countedWakes_.load() < mine || queued_.load() > 0))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

Uplink::Counts Uplink::counts() const {
  return {queued_.load(), sent_.load(), stored_.load(), connectedShown_.load()};
}

std::vector<std::string> Uplink::takeNotes() {
  std::lock_guard lock(notesMutex_);
  return std::exchange(notes_, {});
}

void Uplink::note(std::string text) {
  std::lock_guard lock(notesMutex_);
  notes_.push_back(std::move(text));
}

// ---- the uplink thread ----

void Uplink::run() {
  nameThisThread("ravdel-uplink");
  try {
    store_ = Store::open(settings_.storePath);
    queued_.store(store_->undeliveredCount());
  } catch (const std::exception& e) {
    note(std::string("The station network cannot read the station's store: ") + e.what());
    return;
  }
  if (!openClient()) return;
  while (!stop_.load()) {
    if (!connected_ && !connecting_ && Clock::now() >= nextConnect_) tryConnect();
    // A broker that took the connection but never answers (stalled, or a dead link) is left.
    if (connecting_ && Clock::now() - connectStarted_ > std::chrono::seconds(kKeepAliveSeconds)) {
      mosquitto_disconnect(client_);
      attemptFailed();
    }
    if (mosquitto_loop(client_, 100, 1) != MOSQ_ERR_SUCCESS) {
      if (connected_) onDisconnect(MOSQ_ERR_CONN_LOST);
      if (connecting_) attemptFailed();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (connected_) sendDue();
  }
  if (connected_) {
    const std::string topic = stationTopic(settings_.station, "status");
    mosquitto_publish(client_, nullptr, topic.c_str(), 7, "offline", 1, true);
    mosquitto_disconnect(client_);
    for (int i = 0; i < 10 && mosquitto_loop(client_, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
    }
  }
  mosquitto_destroy(client_);
}

bool Uplink::openClient() {
  const std::string id = "ravdel-" + settings_.station;
  // A session kept by the broker: acknowledgements sent while the station was away wait.
  client_ = mosquitto_new(id.c_str(), false, this);
  if (client_ == nullptr) {
    note("The station network cannot start: no memory for the broker client");
    return false;
  }
  mosquitto_connect_callback_set(
      client_, [](mosquitto*, void* self, int result) { uplinkOf(self).onConnect(result); });
  mosquitto_disconnect_callback_set(
      client_, [](mosquitto*, void* self, int result) { uplinkOf(self).onDisconnect(result); });
  mosquitto_message_callback_set(client_,
                                 [](mosquitto*, void* self, const mosquitto_message* message) {
                                   if (message != nullptr) uplinkOf(self).onMessage(*message);
                                 });
  mosquitto_username_pw_set(client_, settings_.station.c_str(), settings_.password.c_str());
  const std::string status = stationTopic(settings_.station, "status");
  mosquitto_will_set(client_, status.c_str(), 7, "offline", 1, true);
  if (!settings_.tlsCa.empty()) {
    // The broker's certificate is checked against the authority, and its name against the host.
    const int tls =
        mosquitto_tls_set(client_, settings_.tlsCa.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (tls != MOSQ_ERR_SUCCESS) {
      note("The station network cannot use the certificate authority " + settings_.tlsCa + ": " +
           mosquitto_strerror(tls));
      return false;
    }
  }
  return true;
}

// One attempt at a time: a second connect_async would drop the first connection before the
// broker's answer could arrive, and a busy broker would never answer in time.
void Uplink::tryConnect() {
  const int result =
      mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, kKeepAliveSeconds);
  if (result == MOSQ_ERR_SUCCESS) {  // the answer comes to onConnect
    connecting_ = true;
    connectStarted_ = Clock::now();
    return;
  }
  attemptFailed();
}

void Uplink::attemptFailed() {
  connecting_ = false;
  nextConnect_ = Clock::now() + retry_;
  retry_ = std::min(retry_ * 2, kLongestRetry);
}

void Uplink::onConnect(int result) {
  connecting_ = false;
  if (result != 0) {
    note("The broker " + settings_.host + " refused the station " + settings_.station + ": " +
         mosquitto_connack_string(result));
    attemptFailed();
    return;
  }
  connected_ = true;
  connectedShown_.store(true);
  retry_ = std::chrono::milliseconds(1000);
  // Everything not acknowledged goes again: an acknowledgement may have been lost with the link.
  eventsInFlight_.clear();
  heartbeatsInFlight_.clear();
  pending_.store(true);
  const std::string ack = stationTopic(settings_.station, "ack");
  mosquitto_subscribe(client_, nullptr, ack.c_str(), 1);
  const std::string status = stationTopic(settings_.station, "status");
  mosquitto_publish(client_, nullptr, status.c_str(), 6, "online", 1, true);
  note("Connected to the station network at " + settings_.host + ":" +
       std::to_string(settings_.port) + "; " + std::to_string(queued_.load()) +
       " rows wait to be sent");
}

void Uplink::onDisconnect(int result) {
  if (connecting_) attemptFailed();
  if (!connected_) return;
  connected_ = false;
  connectedShown_.store(false);
  nextConnect_ = Clock::now() + retry_;
  note("Disconnected from the station network (" + std::string(mosquitto_strerror(result)) + "); " +
       std::to_string(queued_.load()) + " rows wait; reconnecting");
}

void Uplink::onMessage(const mosquitto_message& message) {
  const std::string_view payload(static_cast<const char*>(message.payload),
                                 static_cast<std::size_t>(std::max(0, message.payloadlen)));
  if (const std::optional<Ack> ack = parseAck(payload)) apply(*ack);
}

void Uplink::apply(const Ack& ack) {
  std::vector<RowKey> events = ack.events;
  std::vector<RowKey> heartbeats = ack.heartbeats;
  for (const Rejection& rejected : ack.rejected) {
    // Never stored, and never to be: not sent again, and said once per reason.
    (rejected.kind == "heartbeat" ? heartbeats : events).push_back(rejected.key);
    if (rejections_[rejected.reason]++ == 0) {
      note("The server refused a row of this station (" + rejected.reason +
           "); it stays in the station's history and is not sent again");
    }
  }
  try {
    store_->markDelivered(settings_.station, events, heartbeats);
  } catch (const std::exception& e) {
    note(std::string("The station's store cannot mark rows delivered: ") + e.what());
    return;  // they go again and are stored once
  }
  for (const RowKey& key : events)
    eventsInFlight_.erase(key);
  for (const RowKey& key : heartbeats)
    heartbeatsInFlight_.erase(key);
  stored_.fetch_add(static_cast<std::int64_t>(ack.events.size() + ack.heartbeats.size()));
  pending_.store(true);
}

template <typename Row>
std::vector<Row> Uplink::due(std::vector<Row> rows, std::map<RowKey, Clock::time_point>& inFlight) {
  const Clock::time_point now = Clock::now();
  std::erase_if(rows, [&](const Row& row) {
    const auto sent = inFlight.find(keyOf(row));
    return sent != inFlight.end() && now - sent->second < settings_.resendAfter;
  });
  return rows;
}

void Uplink::sendDue() {
  const Clock::time_point now = Clock::now();
  if (!pending_.exchange(false) && now - lastLook_ < kLookEvery) return;
  lastLook_ = now;
  const std::uint64_t wakesSeen = wakes_.load();  // their rows are in the store: counted below
  try {
    queued_.store(store_->undeliveredCount());
    countedWakes_.store(wakesSeen);
    if (inFlightRows(eventsInFlight_, heartbeatsInFlight_) >=
        static_cast<std::int64_t>(kMostInFlight))
      return;
    const std::size_t most = kMostInFlight;
    const std::vector<EventRow> events = due(store_->undeliveredEvents(most), eventsInFlight_);
    for (std::size_t i = 0; i < events.size(); i += settings_.batchRows) {
      const auto batch =
          std::span(events).subspan(i, std::min(settings_.batchRows, events.size() - i));
      publish("events", encodeEvents(settings_.station, batch), batch.size());
      for (const EventRow& row : batch)
        eventsInFlight_[keyOf(row)] = now;
    }
    const std::vector<HeartbeatRow> heartbeats =
        due(store_->undeliveredHeartbeats(most), heartbeatsInFlight_);
    for (std::size_t i = 0; i < heartbeats.size(); i += settings_.batchRows) {
      const auto batch =
          std::span(heartbeats).subspan(i, std::min(settings_.batchRows, heartbeats.size() - i));
      publish("heartbeats", encodeHeartbeats(settings_.station, batch), batch.size());
      for (const HeartbeatRow& row : batch)
        heartbeatsInFlight_[keyOf(row)] = now;
    }
  } catch (const std::exception& e) {
    note(std::string("The station network cannot read the station's store: ") + e.what());
  }
}

void Uplink::publish(const std::string& leaf, const std::string& payload, std::size_t rows) {
  const std::string topic = stationTopic(settings_.station, leaf);
  if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, false) == MOSQ_ERR_SUCCESS)
    sent_.fetch_add(static_cast<std::int64_t>(rows));
}

}  // namespace ravdel
