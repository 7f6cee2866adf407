#pragma once

#include <functional>
#include <string>

#include "monitor/event_sink.h"
#include "platform/append_file.h"

namespace ravdel {

// The event log: one JSON line per event, appended to a file that scripts read, each line
// whole (see AppendFile). Main thread only, as every sink.
class EventLogSink final : public EventSink {
 public:
  // Told of a line that could not be written, with the system's reason.
  using Complaint = std::function<void(const std::string&)>;

  explicit EventLogSink(Complaint complain) : complain_(std::move(complain)) {}

  // Opens `path` for appending; false with error() set when it cannot be.
  bool open(const std::string& path) { return file_.open(path); }
  // Log rotation: the old file was renamed away; lines go to a new one under the path.
  bool reopen() { return file_.reopen(); }
  bool isOpen() const { return file_.isOpen(); }
  const std::string& path() const { return file_.path(); }
  const std::string& error() const { return file_.error(); }

  void eventRecorded(const EventReport& report) override;

 private:
  AppendFile file_;
  Complaint complain_;
};

}  // namespace ravdel
