// A console program's start on Windows: the console shows the UTF-8 it prints, and gets its
// own code page back.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/console_program.h"

namespace ravdel {
namespace {

TEST(ConsoleProgramTest, TheConsoleTakesUtf8WhileTheProgramRunsAndGetsItsPageBack) {
  if (::GetConsoleOutputCP() == 0 && !::AllocConsole()) GTEST_SKIP() << "no console here";
  ASSERT_TRUE(::SetConsoleOutputCP(437));  // as a Western console starts
  {
    const Utf8ConsoleOutput console;
    EXPECT_TRUE(console.set());
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
  }
  EXPECT_EQ(::GetConsoleOutputCP(), 437u);
}

TEST(ConsoleProgramTest, ArgumentsComeFromTheWideCommandLine) {
  const std::vector<std::string> arguments = programArguments(__argc, __argv);
  ASSERT_EQ(arguments.size(), static_cast<std::size_t>(__argc - 1));
  for (int i = 1; i < __argc; ++i)
    EXPECT_EQ(arguments[static_cast<std::size_t>(i - 1)], __argv[i]);
}

}  // namespace
}  // namespace ravdel
