#include "server/server_log.h"

#include <cstdio>

#include "platform/local_time.h"

namespace ravdel {

void ServerLog::say(std::string_view text) const {
  const LocalTime t = localTimeNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string line = program_ + ": " + stamp + " " + std::string(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace ravdel
