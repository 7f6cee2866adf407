#include "headless/console.h"

#include <cstdio>

#include "monitor/event_json.h"
#include "platform/local_time.h"

namespace ravdel {
namespace {

void writeLine(std::FILE* stream, std::string_view text) {
  std::string line(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

}  // namespace

std::string consoleTimestamp() {
  // The ISO form up to the seconds, with a space for the 'T'.
  std::string stamp = isoLocalTime(localTimeNow()).substr(0, 19);
  stamp[10] = ' ';
  return stamp;
}

void sayUntimed(std::string_view text) {
  writeLine(stderr, std::string(Console::kProgram) + ": " + std::string(text));
}

void Console::progress(std::string_view text) const {
  if (!quiet_) say(text);
}

void Console::say(std::string_view text) const {
  writeLine(stderr, std::string(kProgram) + ": " + consoleTimestamp() + " " + std::string(text));
}

void Console::json(std::string_view line) const {
  if (json_) writeLine(stdout, line);
}

}  // namespace ravdel
