#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/rows.h"

struct mosquitto;
struct mosquitto_message;

namespace ravdel {

class Store;
struct Ack;

// Where and as whom a station sends.
struct UplinkSettings {
  std::string host;
  int port = 1883;  // 8883 with TLS unless given
  std::string station;
  std::string password;
  std::string tlsCa;      // the broker's certificate authority; empty: no TLS
  std::string storePath;  // the station's store, opened again on the uplink's own thread
  std::chrono::milliseconds resendAfter{15000};  // a batch not acknowledged by then goes again
  std::size_t batchRows = 100;
};

// Sends the station's outbox to the broker on a thread of its own ("ravdel-uplink"): batches
// of events and heartbeats at QoS 1 under ravdel/<station>/, until the server acknowledges
// that it has stored them (its message on ravdel/<station>/ack, sent after its commit); only
// then is a row marked delivered. A batch not acknowledged in time is sent again, and so is
// everything in flight after a reconnection; the server stores a row once however often it
// comes. Reconnects with a growing pause; a last will says "offline".
//
// Threads: the uplink thread owns the broker connection and its own store connection, and
// runs libmosquitto's callbacks (from mosquitto_loop, on that thread). The main thread creates
// and destroys the object and calls wake(), counts() and takeNotes().
class Uplink {
 public:
  struct Counts {
    std::int64_t queued = 0;  // rows waiting for the server, as last counted
    std::int64_t sent = 0;    // rows published (again after a loss: each time)
    std::int64_t stored = 0;  // rows the server said it stored
    bool connected = false;
  };

  explicit Uplink(UplinkSettings settings);
  ~Uplink();  // stops the thread: "offline" said, the connection closed
  Uplink(const Uplink&) = delete;
  Uplink& operator=(const Uplink&) = delete;

  // Main thread: new rows are in the store.
  void wake();
  // Main thread, at the close: waits while the connection stands and rows wait, at most
  // `most`, so that a station stopped on purpose leaves nothing behind it could have sent.
  void drain(std::chrono::milliseconds most);
  Counts counts() const;
  // Main thread: what the log should say since the last call (connected, disconnected, ...).
  std::vector<std::string> takeNotes();

  // libmosquitto's callbacks, on the uplink thread.
  void onConnect(int result);
  void onDisconnect(int result);
  void onMessage(const mosquitto_message& message);

 private:
  using Clock = std::chrono::steady_clock;

  void run();
  bool openClient();
  void tryConnect();
  void attemptFailed();
  void sendDue();
  template <typename Row>
  std::vector<Row> due(std::vector<Row> rows, std::map<RowKey, Clock::time_point>& inFlight);
  void publish(const std::string& leaf, const std::string& payload, std::size_t rows);
  void apply(const Ack& ack);
  void note(std::string text);

  const UplinkSettings settings_;
  std::thread thread_;

  // Uplink thread only.
  std::unique_ptr<Store> store_;
  mosquitto* client_ = nullptr;
  bool connected_ = false;
  bool connecting_ = false;  // an attempt waits for the broker's answer
  Clock::time_point connectStarted_{};
  Clock::time_point nextConnect_{};
  std::chrono::milliseconds retry_{1000};
  Clock::time_point lastLook_{};
  std::map<RowKey, Clock::time_point> eventsInFlight_;
  std::map<RowKey, Clock::time_point> heartbeatsInFlight_;
  std::map<std::string, std::int64_t> rejections_;  // by reason: each said once

  std::atomic<bool> stop_{false};
  std::atomic<bool> pending_{true};             // rows may wait: look at the store
  std::atomic<std::uint64_t> wakes_{0};         // wake() calls so far
  std::atomic<std::uint64_t> countedWakes_{0};  // wakes whose rows queued_ has counted
  std::atomic<std::int64_t> queued_{0};
  std::atomic<std::int64_t> sent_{0};
  std::atomic<std::int64_t> stored_{0};
  std::atomic<bool> connectedShown_{false};

  mutable std::mutex notesMutex_;  // guards notes_
  std::vector<std::string> notes_;
};

}  // namespace ravdel
