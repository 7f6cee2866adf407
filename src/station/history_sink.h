#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "monitor/event_sink.h"
#include "store/rows.h"
#include "store/store.h"

namespace ravdel {

// Who the station is and how much history it keeps.
struct StationIdentity {
  std::string station;             // the name its events are stored and sent under
  std::optional<double> lat, lon;  // coarsened to 0.01 degrees
  std::int64_t keepDays = 365;
  std::int64_t keepBytes = std::int64_t{1024} << 20;
};

// "48.2082,16.3738" as 48.21 and 16.37: a station's place is kept no finer than about a
// kilometre. False for anything but two numbers within the globe's ranges.
bool parseLocation(const std::string& text, double& lat, double& lon);

// The station's own history: every event (with the pixels around its peak) and every
// minute's heartbeat go into the local store before anything is sent, one transaction per
// event. Rows are written undelivered when an uplink will send them, delivered otherwise.
// A sink: main thread only; nothing throws out of it.
class HistorySink final : public EventSink {
 public:
  using Note = std::function<void(const std::string&)>;

  // `wrote` is told after each row is committed (the uplink's wake-up); `note` gets what the
  // log should say (a store that cannot be written, a full store).
  HistorySink(std::unique_ptr<Store> store, StationIdentity identity, bool sending, Note note,
              std::function<void()> wrote = {});

  void runStarted(const RunStart& start) override;
  void runStopped(const MonitorStatus& last) override;
  void eventRecorded(const EventReport& report) override;
  void minuteTicked(const MonitorStatus& status) override;

  // Events that could not be written to the store (each said once in the log).
  std::int64_t failures() const { return failures_; }

 private:
  EventRow eventRow(const EventReport& report) const;
  // The run's figures since the last heartbeat, up to now.
  void writeHeartbeat(const MonitorStatus& status);
  void prune();
  // A failure of the store: said once per kind, then counted.
  void failed(const std::string& doing, const std::exception& error);

  std::unique_ptr<Store> store_;
  StationIdentity identity_;
  bool sending_;
  Note note_;
  std::function<void()> wrote_;
  std::int64_t failures_ = 0;
  bool saidFailure_ = false;
  bool saidFull_ = false;

  // The run under way: its key and where its last heartbeat ended.
  std::string runId_;
  std::int64_t hbSeq_ = 0;
  std::int64_t lastToUs_ = 0;
  MonitorStatus lastStatus_;  // the counters at the last heartbeat
};

}  // namespace ravdel
