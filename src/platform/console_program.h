#pragma once

#include <string>
#include <vector>

// What a console program needs of the system: its arguments as UTF-8, and a console that
// shows the UTF-8 it prints.
namespace ravdel {

// The program's arguments after its name, as UTF-8. On Windows from the wide command line, so
// that a path outside the ANSI code page arrives whole also where the manifest's UTF-8 code
// page does not apply (before Windows 10 1903); elsewhere argv as it is.
std::vector<std::string> programArguments(int argc, char** argv);

// For its lifetime the console the program writes to takes its output as UTF-8 (a Windows
// console otherwise shows it in the OEM code page, "CamÃ©ra"); its code page is given back
// afterwards, so the shell the user goes on in is unchanged. Nothing to do elsewhere.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;
  // Whether there was a console to set.
  bool set() const { return previous_ != 0; }

 private:
  unsigned previous_ = 0;  // the console's own code page; 0: none set
};

}  // namespace ravdel
