#include "server/broker_client.h"

#include <mosquitto.h>

#include <charconv>
#include <random>
#include <stdexcept>

#include "platform/thread_name.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

constexpr int kQos = 1;
constexpr int kLoopMilliseconds = 200;  // how soon the network thread sees stop()
constexpr std::chrono::seconds kLongestRetry{30};

// libmosquitto wants one initialisation per process before the first client.
void initialiseLibrary() {
  static const int once = mosquitto_lib_init();
  (void)once;
}

std::string randomClientId() {
  std::random_device random;
  constexpr char kDigits[] = "0123456789abcdef";
  std::string id = "ravdel-";
  for (int i = 0; i < 12; ++i)
    id += kDigits[random() % 16];
  return id;
}

BrokerClient* owner(void* self) {
  return static_cast<BrokerClient*>(self);
}

}  // namespace

bool parseBrokerAddress(std::string_view text, BrokerSettings& settings) {
  return parseBrokerAddress(text, !settings.tlsCa.empty(), settings.host, settings.port);
}

BrokerClient::BrokerClient(BrokerSettings settings, MessageHandler onMessage,
                           ConnectionHandler onConnection)
    : settings_(std::move(settings)),
      onMessage_(std::move(onMessage)),
      onConnection_(std::move(onConnection)),
      client_(nullptr, mosquitto_destroy) {
  initialiseLibrary();
  if (settings_.clientId.empty()) settings_.clientId = randomClientId();
  client_.reset(mosquitto_new(settings_.clientId.c_str(), true, this));
  if (!client_) throw std::runtime_error("cannot make a broker client");
  mosquitto_threaded_set(client_.get(), true);
  mosquitto_connect_callback_set(client_.get(), &BrokerClient::onConnect);
  mosquitto_disconnect_callback_set(client_.get(), &BrokerClient::onDisconnect);
  mosquitto_publish_callback_set(client_.get(), &BrokerClient::onPublish);
  mosquitto_message_callback_set(client_.get(), &BrokerClient::onMessage);
}

BrokerClient::~BrokerClient() {
  stop();
}

void BrokerClient::start() {
  if (!settings_.user.empty())
    mosquitto_username_pw_set(client_.get(), settings_.user.c_str(), settings_.password.c_str());
  if (!settings_.tlsCa.empty()) {
    const int result = mosquitto_tls_set(client_.get(), settings_.tlsCa.c_str(), nullptr, nullptr,
                                         nullptr, nullptr);
    if (result != MOSQ_ERR_SUCCESS)
      throw std::runtime_error("cannot use the CA file " + settings_.tlsCa + ": " +
                               mosquitto_strerror(result));
  }
  thread_ = std::thread([this] { run(); });
}

void BrokerClient::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// The network thread: the library's loop, and a new connection after every loss.
void BrokerClient::run() {
  nameThisThread("ravdel-broker");
  auto delay = std::chrono::seconds(1);
  int result = mosquitto_connect_async(client_.get(), settings_.host.c_str(), settings_.port,
                                       settings_.keepaliveSeconds);
  for (;;) {
    while (result == MOSQ_ERR_SUCCESS && !stopRequested())
      result = mosquitto_loop(client_.get(), kLoopMilliseconds, 1);
    if (stopRequested()) break;
    if (connected_.exchange(false)) delay = std::chrono::seconds(1);
    // A refusal was told with the broker's reason already.
    if (result != MOSQ_ERR_CONN_REFUSED)
      tell(false, result == MOSQ_ERR_ERRNO ? "cannot connect" : mosquitto_strerror(result));
    if (!waitForRetry(delay)) break;
    delay = std::min(delay * 2, kLongestRetry);
    result = mosquitto_reconnect_async(client_.get());
  }
  // A clean end: the broker is told, so it does not treat the ingester as lost.
  if (connected_.exchange(false) && mosquitto_disconnect(client_.get()) == MOSQ_ERR_SUCCESS) {
    for (int i = 0;
         i < 10 && mosquitto_loop(client_.get(), kLoopMilliseconds, 1) == MOSQ_ERR_SUCCESS; ++i) {
    }
  }
}

bool BrokerClient::stopRequested() const {
  const std::lock_guard lock(mutex_);
  return stopping_;
}

// True after `delay` unless stop() came first.
bool BrokerClient::waitForRetry(std::chrono::seconds delay) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, delay, [this] { return stopping_; });
  return !stopping_;
}

// Network thread. Only changes are told: a broker that stays away is one line, not one a try.
void BrokerClient::tell(bool connected, const std::string& why) {
  std::string now = (connected ? "up " : "down ") + why;
  if (now == lastTold_) return;
  lastTold_ = std::move(now);
  if (onConnection_) onConnection_(connected, why);
}

void BrokerClient::onConnect(mosquitto*, void* self, int result) {
  BrokerClient& client = *owner(self);
  if (result != 0) {
    client.tell(false, mosquitto_connack_string(result));
    return;  // the broker closes the connection; run() tries again
  }
  client.connected_ = true;
  client.subscribeAll();
  client.tell(true, "connected");
}

void BrokerClient::onDisconnect(mosquitto*, void* self, int result) {
  owner(self)->connected_ = false;
  if (result != 0) owner(self)->tell(false, mosquitto_strerror(result));
}

void BrokerClient::onPublish(mosquitto*, void* self, int) {
  BrokerClient& client = *owner(self);
  {
    const std::lock_guard lock(client.mutex_);
    --client.unconfirmed_;
  }
  client.changed_.notify_all();
}

void BrokerClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
  BrokerClient& client = *owner(self);
  if (!client.onMessage_ || message->topic == nullptr) return;
  const std::string_view payload(static_cast<const char*>(message->payload),
                                 static_cast<std::size_t>(message->payloadlen));
  client.onMessage_(message->topic, payload);
}

void BrokerClient::subscribeAll() {
  const std::lock_guard lock(mutex_);
  for (const std::string& filter : filters_)
    mosquitto_subscribe(client_.get(), nullptr, filter.c_str(), kQos);
}

void BrokerClient::subscribe(std::vector<std::string> filters) {
  {
    const std::lock_guard lock(mutex_);
    filters_ = std::move(filters);
  }
  if (connected_) subscribeAll();
}

void BrokerClient::unsubscribe() {
  std::vector<std::string> filters;
  {
    const std::lock_guard lock(mutex_);
    filters.swap(filters_);
  }
  if (!connected_) return;
  for (const std::string& filter : filters)
    mosquitto_unsubscribe(client_.get(), nullptr, filter.c_str());
}

// Counted before it is handed over, so that its confirmation never comes first; the library
// is called without our lock, as its network thread takes that lock in onPublish.
bool BrokerClient::publish(const std::string& topic, std::string_view payload, bool retain) {
  {
    const std::lock_guard lock(mutex_);
    ++unconfirmed_;
  }
  const int result =
      mosquitto_publish(client_.get(), nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), kQos, retain);
  if (result == MOSQ_ERR_SUCCESS) return true;
  {
    const std::lock_guard lock(mutex_);
    --unconfirmed_;
  }
  changed_.notify_all();
  return false;
}

bool BrokerClient::flush(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return unconfirmed_ <= 0; });
}

}  // namespace ravdel
