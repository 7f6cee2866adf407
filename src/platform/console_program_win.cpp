// The wide command line and the console's output code page.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include "platform/console_program.h"
#include "platform/windows_text.h"

namespace ravdel {

std::vector<std::string> programArguments(int /*argc*/, char** /*argv*/) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i)
    arguments.push_back(windows::narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

Utf8ConsoleOutput::Utf8ConsoleOutput() {
  const UINT own = ::GetConsoleOutputCP();
  if (own != 0 && ::SetConsoleOutputCP(CP_UTF8)) previous_ = own;
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
  if (previous_ != 0) ::SetConsoleOutputCP(previous_);
}

}  // namespace ravdel
