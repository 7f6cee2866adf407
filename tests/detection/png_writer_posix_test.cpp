// The PNG writer on a disk that fills up: a file size limit, which only POSIX systems give a
// single process.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>

#include "detection/png_writer.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

using PngWriterFullDiskTest = test::TempDirTest;

// A disk that fills up part-way: the error is reported and neither the target nor a
// temporary file is left behind. Run in a child, as the file size limit is per process.
TEST_F(PngWriterFullDiskTest, FailedWriteLeavesNoPartialFile) {
  const std::filesystem::path path = dir_ / "big.png";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    FrameBitmap frame(640, 480);
    std::mt19937 rng(3);
    for (std::size_t i = 0; i < frame.byteCount(); ++i)
      frame.data()[i] = static_cast<std::uint8_t>(rng());
    try {
      writePng(frame, path.string());
    } catch (const ImageWriteError& e) {
      _exit(std::strstr(e.what(), "big.png") != nullptr ? 0 : 2);
    }
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(entryCount(), 0);
}

}  // namespace
}  // namespace ravdel
