#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using FilesTest = test::TempDirTest;

TEST_F(FilesTest, ReplacementTakesEffectOnlyAtCommit) {
  const std::string target = path("events.png");
  write(target, "old");
  {
    ReplacingFile file(target);
    ASSERT_TRUE(file.ok()) << file.error();
    std::fputs("new", file.stream());
    EXPECT_EQ(read(target), "old") << "nothing shows before the commit";
  }
  EXPECT_EQ(read(target), "old") << "an abandoned replacement leaves the old file";
  EXPECT_EQ(entryCount(), 1) << "and no temporary file";

  ReplacingFile file(target);
  std::fputs("new", file.stream());
  ASSERT_TRUE(file.commit()) << file.error();
  EXPECT_EQ(read(target), "new");
  EXPECT_EQ(entryCount(), 1);
}

TEST_F(FilesTest, ReplacementFailuresSayWhereAndWhy) {
  ReplacingFile missingFolder(path("missing/events.png"));
  EXPECT_FALSE(missingFolder.ok());
  EXPECT_EQ(missingFolder.failedAt(), ReplacingFile::Stage::create);
  EXPECT_EQ(missingFolder.stream(), nullptr);
  EXPECT_EQ(missingFolder.error(), "No such file or directory");
  EXPECT_FALSE(missingFolder.commit());

  fs::create_directory(path("taken.png"));
  ReplacingFile directory(path("taken.png"));
  EXPECT_FALSE(directory.ok()) << "a folder of that name is not replaced by a file";
  EXPECT_TRUE(fs::is_directory(path("taken.png")));
}

TEST_F(FilesTest, ReadsAWholeFileWithItsTimeWithinALimit) {
  const std::string sample = path("frame.yuy2");
  write(sample, "12345678");
  const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(30);
  fs::last_write_time(sample, stamp);

  FileWithTime read;
  EXPECT_EQ(readFileWithTime(sample, 8, read), std::nullopt);
  EXPECT_EQ(std::string(read.bytes.begin(), read.bytes.end()), "12345678");
  const auto age = std::chrono::system_clock::now().time_since_epoch() -
                   std::chrono::milliseconds(read.modifiedMs);
  using Hours = std::chrono::duration<double, std::ratio<3600>>;
  EXPECT_NEAR(Hours(age).count(), 30.0, 0.1);

  EXPECT_EQ(readFileWithTime(sample, 7, read), "too large for one camera sample");
  EXPECT_EQ(readFileWithTime(dir_.string(), 8, read), "Is a directory");
  EXPECT_EQ(readFileWithTime(path("none"), 8, read), "No such file or directory");
}

}  // namespace
}  // namespace ravdel
