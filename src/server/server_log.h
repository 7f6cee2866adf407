#pragma once

#include <string>
#include <string_view>

namespace ravdel {

// A server program's lines on stderr: "PROGRAM: YYYY-MM-DD HH:MM:SS text" in local time, each
// written whole in one call, so that lines from several threads never mix. Any thread.
class ServerLog {
 public:
  explicit ServerLog(std::string program) : program_(std::move(program)) {}
  void say(std::string_view text) const;

 private:
  std::string program_;
};

}  // namespace ravdel
