#pragma once

#include <QWidget>
#include <exception>
#include <string>
#include <string_view>

#include "monitor/monitor.h"

namespace ravdel {

// The one box that reports a failure no handler dealt with: caption "Ravdel", error icon, OK.
// Modal; the event loop goes on afterwards.
void showFailure(QWidget* parent, std::string_view message);

// Runs an event handler so that no exception leaves it: whatever it throws ends in the
// failure box.
template <typename Handler>
void guarded(QWidget* parent, Handler&& handler) noexcept {
  try {
    try {
      handler();
    } catch (const std::exception& e) {
      showFailure(parent, e.what());
    } catch (...) {
      showFailure(parent, "Unknown failure");
    }
  } catch (...) {
    // The box itself failed; there is nothing left to report through.
  }
}

}  // namespace ravdel
