#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "monitor/event_sink.h"
#include "monitor/repeated_failures.h"
#include "platform/append_file.h"

namespace ravdel {

// The event log: one JSON line per event, appended to a file that scripts read, each line
// whole (see AppendFile). A line that cannot be written (a full disk) waits in memory, with
// those after it, and they are written in order once the file takes lines again: at the next
// event, minute or stop. Main thread only, as every sink.
class EventLogSink final : public EventSink {
 public:
  // Lines kept waiting at most; later ones are lost, and counted.
  static constexpr std::size_t kMaxWaitingLines = 100000;

  // Told that lines cannot be written and how many wait (once, then counted, see
  // RepeatedFailures), and when the waiting lines are written.
  using Complaint = std::function<void(const std::string&)>;

  explicit EventLogSink(Complaint complain);

  // Opens `path` for appending; false with error() set when it cannot be.
  bool open(const std::string& path) { return file_.open(path); }
  // Log rotation: the old file was renamed away; lines go to a new one under the path.
  bool reopen();
  bool isOpen() const { return file_.isOpen(); }
  const std::string& path() const { return file_.path(); }
  const std::string& error() const { return file_.error(); }

  // Lines that have not reached the file: waiting, and lost because too many waited.
  std::uint64_t linesNotWritten() const { return waiting_.size() + lost_; }

  void eventRecorded(const EventReport& report) override;
  void minuteTicked(const MonitorStatus& status) override;
  void runStopped(const MonitorStatus& status) override;

 private:
  // Writes the waiting lines in order until one fails; says when they have all been written.
  void writeWaiting();
  void complain(const std::string& why);

  AppendFile file_;
  Complaint complain_;
  RepeatedFailures complaints_;
  std::deque<std::string> waiting_;
  std::uint64_t lost_ = 0;
  bool failing_ = false;  // a line could not be written and the waiting ones are not all out
};

}  // namespace ravdel
