#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <utility>

#include "app/platform/termination_signals.h"

namespace ravdel {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end for the handler; -1 when no object owns the signals. A lock-free atomic is
// safe to read in a signal handler.
std::atomic<int> gWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction gPrevious[std::size(kSignals)];

extern "C" void onTerminationSignal(int signal) {
  const int savedErrno = errno;
  const int fd = gWriteFd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const auto byte = static_cast<unsigned char>(signal);
    // Non-blocking: with the socket full, signals already queued will close us anyway.
    [[maybe_unused]] const auto written = ::send(fd, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  if (gWriteFd.load() >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sockets_) != 0) {
    sockets_[0] = sockets_[1] = -1;
    return;
  }
  gWriteFd.store(sockets_[1]);
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &action, &gPrevious[i]);
  }
  notifier_ = std::make_unique<QSocketNotifier>(sockets_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals() {
  if (!active()) return;
  notifier_.reset();
  // Handlers first, so that none writes to a closed or reused descriptor.
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  }
  gWriteFd.store(-1);
  ::close(sockets_[0]);
  ::close(sockets_[1]);
}

void TerminationSignals::drain() {
  unsigned char received[64];
  ssize_t n;
  do {
    n = ::read(sockets_[0], received, sizeof received);
  } while (n < 0 && errno == EINTR);
  // The callback may close the window and so destroy us: it runs from a copy, and stops
  // once we are gone. Anything left in the socket brings the notifier back.
  const auto callback = onSignal_;
  const QPointer<TerminationSignals> self(this);
  for (ssize_t i = 0; i < n && self && callback; ++i)
    callback(received[i]);
}

}  // namespace ravdel
