#include "monitor/event_log.h"

#include <utility>

#include "monitor/event_json.h"

namespace ravdel {
namespace {

std::string linesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}

}  // namespace

EventLogSink::EventLogSink(Complaint complain)
    : complain_(std::move(complain)),
      complaints_([this](const std::string& text) { complain_(text); }) {}

bool EventLogSink::reopen() {
  const bool reopened = file_.reopen();
  writeWaiting();
  return reopened;
}

void EventLogSink::eventRecorded(const EventReport& report) {
  if (!file_.isOpen()) return;
  if (waiting_.size() < kMaxWaitingLines) {
    waiting_.push_back(eventJsonLine(report));
  } else {
    ++lost_;
    complain("no room to keep more lines waiting; this event's line is lost");
  }
  writeWaiting();
}

void EventLogSink::minuteTicked(const MonitorStatus&) {
  writeWaiting();
  complaints_.flush();
}

void EventLogSink::runStopped(const MonitorStatus&) {
  writeWaiting();
  complaints_.flush(true);
}

void EventLogSink::writeWaiting() {
  if (!file_.isOpen()) return;
  const std::size_t before = waiting_.size();
  while (!waiting_.empty()) {
    if (!file_.appendLine(waiting_.front())) {
      failing_ = true;
      // The same words whatever the count: the complaint is said once, then counted.
      return complain(file_.error() +
                      "; lines waiting in memory: " + std::to_string(waiting_.size()));
    }
    waiting_.pop_front();
  }
  if (!failing_) return;
  failing_ = false;
  complaints_.flush(true);  // the counts belong before the all-clear
  complain_("the event log " + file_.path() + " takes lines again: " + linesText(before) +
            " that waited written");
}

void EventLogSink::complain(const std::string& why) {
  complaints_.report("cannot write to the event log " + file_.path() + ": " + why);
}

}  // namespace ravdel
