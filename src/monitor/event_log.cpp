#include "monitor/event_log.h"

#include "monitor/event_json.h"

namespace ravdel {

void EventLogSink::eventRecorded(const EventReport& report) {
  if (!file_.isOpen()) return;
  if (!file_.appendLine(eventJsonLine(report))) {
    complain_("could not write to the event log " + file_.path() + ": " + file_.error());
  }
}

}  // namespace ravdel
