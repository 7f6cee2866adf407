#include "headless/console.h"

#include <cstdio>

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
  return timestampText(localTimeNow());
}

void sayUntimed(std::string_view text) {
  writeLine(stderr, std::string(Console::kProgram) + ": " + std::string(text));
}

void Console::progress(std::string_view text) const {
  if (!quiet_) say(text);
}

void sayTimed(const std::string& text) {
  writeLine(stderr, std::string(Console::kProgram) + ": " + consoleTimestamp() + " " + text);
}

void Console::say(std::string_view text) const {
  sayTimed(std::string(text));
}

void Console::json(std::string_view line) const {
  if (json_) writeLine(stdout, line);
}

}  // namespace ravdel
