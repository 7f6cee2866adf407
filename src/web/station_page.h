#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "web/figures_server.h"

namespace ravdel {

// The desktop program's "History…": the station's own page, served from its local history on
// 127.0.0.1 at a port the system picks, under a random token so that other users of the machine
// cannot read it. Served from the first time it is asked for until stop() or the object's end,
// on the server's own threads, so a slow browser never holds up the window. Main thread.
class StationPage {
 public:
  explicit StationPage(std::string historyPath) : historyPath_(std::move(historyPath)) {}

  // The address of `station`'s page for the browser, the server started the first time.
  // Throws ServeError or StoreError when it cannot be served.
  std::string address(std::string_view station);
  // Closes the port; the next address() serves again. Idempotent.
  void stop() { server_.reset(); }
  bool serving() const { return server_ != nullptr; }

 private:
  std::string historyPath_;
  std::unique_ptr<FiguresServer> server_;
};

// A secret for an address: 128 random bits as 32 lowercase hex digits.
std::string randomToken();

}  // namespace ravdel
