// ravdel-ingest: the stations' messages from the broker into the store.
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "platform/signal_watcher.h"
#include "server/command_options.h"
#include "server/ingest_options.h"
#include "server/ingest_service.h"
#include "server/server_log.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

// Where a signal goes: the service once it runs, else remembered for when it does.
class StopRequest {
 public:
  // The signal watcher's thread.
  void request() {
    const std::lock_guard lock(mutex_);
    requested_ = true;
    if (service_ != nullptr) service_->requestStop();
  }
  // The main thread, around run().
  void attach(ravdel::IngestService* service) {
    const std::lock_guard lock(mutex_);
    service_ = service;
    if (service_ != nullptr && requested_) service_->requestStop();
  }

 private:
  std::mutex mutex_;  // Protects service_ and requested_.
  ravdel::IngestService* service_ = nullptr;
  bool requested_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  const ravdel::ServerLog log("ravdel-ingest");
  StopRequest stop;
  // First, before any thread starts, so that only the watcher's thread takes the signals.
  const ravdel::SignalWatcher signals([&stop](ravdel::Signal) { stop.request(); });
  try {
    const auto line =
        ravdel::parseIngestCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.help) {
      std::fputs(ravdel::ingestUsage().c_str(), stdout);
      return 0;
    }
    ravdel::IngestService service(line.settings, log);
    stop.attach(&service);
    service.run();
    stop.attach(nullptr);
    log.say("stopped: " + service.summary());
    return 0;
  } catch (const ravdel::CommandLineError& e) {
    log.say(std::string(e.what()) + " (see --help)");
    return kExitUsage;
  } catch (const std::exception& e) {
    log.say(e.what());
    return kExitFailed;
  }
}
