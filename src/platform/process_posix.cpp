// Process identifiers on POSIX systems.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/process.h"

namespace ravdel {

std::int64_t currentProcessId() {
  return ::getpid();
}

bool processRunning(std::int64_t pid) {
  // kill() with 0 or a negative number would ask about process groups.
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  // Signal 0 only asks; EPERM means the process is there but someone else's.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace ravdel
