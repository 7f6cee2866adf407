#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace ravdel {

// Where a client of the broker connects, and as whom.
struct BrokerSettings {
  std::string host = "localhost";
  int port = 1883;
  std::string user;      // empty: anonymous
  std::string password;  // with `user`
  std::string tlsCa;     // a CA file: TLS, the broker's host name checked; empty: plain TCP
  std::string clientId;  // empty: "ravdel-" and random digits
  int keepaliveSeconds = 20;
};

// "HOST", "HOST:PORT" or "[IPv6]:PORT" (1883, or 8883 with TLS, when the port is left out)
// into `settings`; false when it is none of them.
bool parseBrokerAddress(std::string_view text, BrokerSettings& settings);

// A connection to the broker (MQTT 3.1.1, clean session) that stays up: it reconnects after
// any loss, one second later, then after 2, 4 ... up to 30 s, also when the broker refused it
// or its TLS handshake failed. Subscriptions asked for are made again at each connection.
// QoS 1 throughout.
//
// The network thread ("ravdel-broker") is the client's own: it runs the callbacks below, which
// must not block for long (a handler that waits would stall the keepalive) and must not call
// stop(). Every public member may be called from any thread, except that stop() and the
// destructor must not run on the network thread.
class BrokerClient {
 public:
  // Runs on the network thread for each message of a subscription.
  using MessageHandler = std::function<void(std::string_view topic, std::string_view payload)>;
  // Runs on the network thread when the connection is made (true) or lost (false), with the
  // reason; also when an attempt to connect fails.
  using ConnectionHandler = std::function<void(bool connected, const std::string& why)>;

  BrokerClient(BrokerSettings settings, MessageHandler onMessage, ConnectionHandler onConnection);
  ~BrokerClient();
  BrokerClient(const BrokerClient&) = delete;
  BrokerClient& operator=(const BrokerClient&) = delete;

  // Starts the network thread, which connects. Throws std::runtime_error when the settings
  // cannot be used at all (a CA file that cannot be read).
  void start();
  // Disconnects and joins the network thread.
  void stop();

  // The topic filters to hold while connected (subscribed at once when connected now), or none.
  void subscribe(std::vector<std::string> filters);
  void unsubscribe();
  // Queues a message; false when the library refused it (not connected, out of memory).
  bool publish(const std::string& topic, std::string_view payload, bool retain = false);
  // Waits until the broker has taken every message published so far (or `limit` passed);
  // whether it has.
  bool flush(std::chrono::milliseconds limit);
  bool connected() const { return connected_; }

 private:
  static void onConnect(mosquitto*, void* self, int result);
  static void onDisconnect(mosquitto*, void* self, int result);
  static void onPublish(mosquitto*, void* self, int messageId);
  static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
  void run();
  void subscribeAll();
  void tell(bool connected, const std::string& why);
  bool stopRequested() const;
  bool waitForRetry(std::chrono::seconds delay);

  BrokerSettings settings_;
  MessageHandler onMessage_;
  ConnectionHandler onConnection_;
  std::unique_ptr<mosquitto, void (*)(mosquitto*)> client_;
  std::thread thread_;
  std::atomic<bool> connected_{false};
  std::string lastTold_;  // network thread only: what onConnection_ heard last

  mutable std::mutex mutex_;  // Protects filters_, unconfirmed_ and stopping_.
  std::condition_variable changed_;
  std::vector<std::string> filters_;
  std::int64_t unconfirmed_ = 0;  // QoS 1 messages published and not yet taken by the broker
  bool stopping_ = false;
};

}  // namespace ravdel
