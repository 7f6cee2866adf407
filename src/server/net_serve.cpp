// ravdel-net serve: the page of the figures, until SIGINT or SIGTERM.
#include <charconv>
#include <condition_variable>
#include <mutex>

#include "platform/signal_watcher.h"
#include "server/figure_commands.h"
#include "server/figure_options.h"
#include "web/figures_server.h"

namespace ravdel {
namespace {

// "HOST:PORT", "[::1]:PORT" or ":PORT" (loopback); port 0 lets the system choose.
void parseListen(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw CommandLineError("--listen is HOST:PORT, not " + text);
  host = text.substr(0, colon);
  if (host.empty()) host = "127.0.0.1";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const std::string digits = text.substr(colon + 1);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port < 0 || port > 65535)
    throw CommandLineError("--listen has no port from 0 to 65535: " + text);
}

// Waits on the main thread for the signal watcher's thread to say stop.
class StopRequest {
 public:
  void request() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stop_; });
  }

 private:
  std::mutex mutex_;  // guards stop_: set by the signal watcher's thread
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace

int runServe(const CommandArguments& args, std::ostream& out) {
  FiguresServerOptions options;
  options.storeLocation = figuresStoreLocation(args);
  openFiguresStore(args);  // a missing file is an error here, not a new store
  parseListen(args.value("listen").value_or("127.0.0.1:8080"), options.host, options.port);
  options.token = args.value("token").value_or("");
  if (options.token.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "0123456789-_") != std::string::npos)
    throw CommandLineError("--token takes letters, digits, - and _ only");
  StopRequest stop;
  const SignalWatcher signals([&stop](Signal) { stop.request(); });
  FiguresServer server(options);
  server.start();
  out << "ravdel-net: serving " << server.address() << " (Ctrl+C ends)" << std::endl;
  stop.wait();
  server.stop();
  out << "ravdel-net: stopped" << std::endl;
  return 0;
}

}  // namespace ravdel
