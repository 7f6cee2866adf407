#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "store/store.h"

namespace ravdel {

// The page could not be served: the address is taken or cannot be bound.
class ServeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FiguresServerOptions {
  std::string storeLocation;       // as Store::open takes it
  std::string host = "127.0.0.1";  // loopback unless told otherwise
  int port = 8080;                 // 0: one the system chooses
  // Not empty: every address of the page starts with /TOKEN/, and nothing else is answered,
  // so that only who was given the address can read it (the desktop program's own page).
  std::string token;
  // The desktop program's own history: the store may not exist yet (the history is off) and is
  // then not made; while it holds no event, the page's address answers a page that says how to
  // switch the history on.
  bool localHistory = false;
  int threads = 4;  // requests answered at once
  // How long a connection may stall in a request or its answer before it is dropped; stop()
  // waits at most this long for one.
  int stallSeconds = 5;
  // The time the figures are judged at (health, default ranges); the clock by default.
  std::function<std::int64_t()> now;
};

// The read-only page of the figures and the JSON behind it, over HTTP. Requests are answered
// on the server's own threads, each with a store connection from a small pool; nothing is
// ever written. Owned by one thread, which starts and stops it.
class FiguresServer {
 public:
  // Opens the store once, so that a store that cannot be read fails here (a local history only
  // when it exists). Throws StoreError.
  explicit FiguresServer(FiguresServerOptions options);
  // Stops serving.
  ~FiguresServer();
  FiguresServer(const FiguresServer&) = delete;
  FiguresServer& operator=(const FiguresServer&) = delete;

  // Binds the address and serves from a thread of the server's own; connections are taken
  // from the moment it returns. Once per object. Throws ServeError.
  void start();
  // Closes the port and waits for the requests under way; no port stays open. Idempotent.
  void stop();

  int port() const { return port_; }
  // The page's address: "http://127.0.0.1:PORT/" or "http://127.0.0.1:PORT/TOKEN/".
  std::string address() const;

 private:
  struct Http;  // the HTTP library's server, kept out of this header

  // Lends a store connection; a connection that failed is not given back (it may be broken).
  std::unique_ptr<Store> borrowStore();
  void giveBack(std::unique_ptr<Store> store);
  // False for a local history that does not exist or holds no event yet.
  bool historyKept();
  void route();

  FiguresServerOptions options_;
  std::string base_;  // "" or "/TOKEN"
  std::unique_ptr<Http> http_;
  std::thread listener_;                   // runs the HTTP library's accept loop
  std::atomic<bool> listenerDone_{false};  // set by listener_ as it ends
  int port_ = 0;
  std::mutex idleMutex_;  // guards idle_: the server's threads borrow and return stores
  std::vector<std::unique_ptr<Store>> idle_;
};

}  // namespace ravdel
