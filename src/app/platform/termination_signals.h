#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace ravdel {

// Brings SIGTERM, SIGINT and SIGHUP into the Qt event loop, so that the end of the session or
// a kill leaves through the program's normal close path instead of ending the process on the
// spot. The handler only writes the signal number to a socket; the callback runs later on the
// thread that created this object (the main thread), once per signal received.
// One object at a time; while it exists it owns those three signals. Its destructor puts back
// the handlers that were there before.
class TerminationSignals final : public QObject {
 public:
  explicit TerminationSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // False when the handlers could not be installed (another object owns them, or no socket).
  bool active() const { return notifier_ != nullptr; }

 private:
  void drain();

  std::function<void(int)> onSignal_;
  int sockets_[2] = {-1, -1};  // [0] read here, [1] written by the handler
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace ravdel
