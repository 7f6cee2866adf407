// Terminals take UTF-8 as it is, and argv is the bytes the shell passed.
#include "platform/console_program.h"

namespace ravdel {

std::vector<std::string> programArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

Utf8ConsoleOutput::Utf8ConsoleOutput() = default;
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;

}  // namespace ravdel
