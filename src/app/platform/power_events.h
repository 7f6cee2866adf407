#pragma once

#include <QObject>
#include <functional>

namespace ravdel {

enum class PowerEvent { Suspend, Resume };

// Tells the program when the machine is about to sleep and when it has woken, so that capture
// can stop before the camera goes away and start again after. On Linux this follows logind on
// the system bus; without a system bus (containers, CI) the object is merely inactive.
// The callback runs on the thread that created this object (the main thread), from its event
// loop, never from inside the constructor.
class PowerEvents final : public QObject {
 public:
  explicit PowerEvents(std::function<void(PowerEvent)> onEvent, QObject* parent = nullptr);
  ~PowerEvents() override;
  PowerEvents(const PowerEvents&) = delete;
  PowerEvents& operator=(const PowerEvents&) = delete;

  // False when there is no system bus or the subscription failed: no events will come.
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

}  // namespace ravdel
