#pragma once

#include <string>
#include <string_view>

namespace ravdel {

// The program's lines: "ravdel-monitor: <local time> <text>" on stderr, each written and
// flushed whole, and with --json the event lines on stdout. Main thread only.
class Console {
 public:
  static constexpr const char* kProgram = "ravdel-monitor";

  Console(bool quiet, bool json) : quiet_(quiet), json_(json) {}

  // The minute's status and each event; --quiet leaves them out.
  void progress(std::string_view text) const;
  // Everything else: start and summary, the camera lost and back, messages, failures.
  void say(std::string_view text) const;
  // An event's JSON line, with --json.
  void json(std::string_view line) const;

 private:
  bool quiet_;
  bool json_;
};

// "2026-12-08 09:26:53": the local time a console line starts with.
std::string consoleTimestamp();

// "ravdel-monitor: <text>" on stderr, for what is said before monitoring starts (usage errors,
// --list): without a time.
void sayUntimed(std::string_view text);

// "ravdel-monitor: <local time> <text>" on stderr, written whole: Console::say, and the capture
// backends' lines (any thread).
void sayTimed(const std::string& text);

}  // namespace ravdel
