// The append file where POSIX rules differ from Windows': the mode of a new file, the system's
// error texts, a folder renamed under an open file, and a write cut short by a size limit or a
// full disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/append_file.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using AppendFilePosixTest = test::TempDirTest;

TEST_F(AppendFilePosixTest, NewFilesTakeTheUsualModeAndErrorsTheSystemsWords) {
  const mode_t savedUmask = ::umask(0);
  AppendFile created;
  ASSERT_TRUE(created.open(path("new.jsonl"))) << created.error();
  ::umask(savedUmask);
  EXPECT_EQ(fs::status(path("new.jsonl")).permissions(), fs::perms(0644));
  EXPECT_FALSE(created.appendLine("two\nlines"));
  EXPECT_EQ(created.error(), "Invalid argument");

  AppendFile missing;
  EXPECT_FALSE(missing.open(path("missing/events.jsonl")));
  EXPECT_EQ(missing.error(), "No such file or directory");
}

TEST_F(AppendFilePosixTest, AFileWhoseFolderIsRenamedKeepsTakingLines) {
  AppendFile log;
  fs::create_directory(path("logs"));
  ASSERT_TRUE(log.open(path("logs/events.jsonl")));
  fs::rename(path("logs"), path("old"));
  EXPECT_FALSE(log.reopen());
  EXPECT_TRUE(log.appendLine("still"));
  EXPECT_EQ(read(path("old/events.jsonl")), "still\n");
}

// In a child process: the limit would cut the test's own output too. Exits with 1 and the
// error text when the second line is refused.
[[noreturn]] void appendPastASizeLimit(const std::string& file) {
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 100;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  AppendFile log;
  if (!log.open(file) || !log.appendLine(std::string(59, 'a'))) std::_Exit(2);
  if (log.appendLine(std::string(59, 'b'))) std::_Exit(3);
  std::fputs(log.error().c_str(), stderr);
  std::_Exit(1);
}

// A disk that fills in the middle of a line: the file size limit cuts a write short the same
// way. The piece that went in is taken off again: the next line would be glued onto it.
TEST_F(AppendFilePosixTest, WriteCutShortIsAFailureAndLeavesNoPieceOfTheLine) {
  EXPECT_EXIT(appendPastASizeLimit(path("events.jsonl")), ::testing::ExitedWithCode(1),
              "No space left on device");
  EXPECT_EQ(read(path("events.jsonl")), std::string(59, 'a') + "\n");
}

TEST_F(AppendFilePosixTest, LinesAreWholeOrAbsentOnAFullDiskAndFollowOnceThereIsRoom) {
  const test::SmallDisk disk(dir_ / "disk", 64);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  disk.fillLeaving(4);
  AppendFile log;
  ASSERT_TRUE(log.open(path("disk/events.jsonl"))) << log.error();
  const std::string line(100, 'x');
  int written = 0;
  while (log.appendLine(line + std::to_string(written)))
    ++written;
  EXPECT_EQ(log.error(), "No space left on device");
  ASSERT_GT(written, 0);
  EXPECT_FALSE(log.appendLine(line)) << "still full";

  disk.free();
  ASSERT_TRUE(log.appendLine("after")) << log.error();
  std::string expected;
  for (int n = 0; n < written; ++n)
    expected += line + std::to_string(n) + "\n";
  EXPECT_EQ(read(path("disk/events.jsonl")), expected + "after\n");
}

}  // namespace
}  // namespace ravdel
