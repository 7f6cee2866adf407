#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/process.h"
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

TEST_F(FilesTest, ANewFileTakesOnlyAFreeName) {
  write(path("a.png"), "someone else's");
  NewFile file(path("a.png"));
  ASSERT_TRUE(file.ok()) << file.error();
  std::fputs("new", file.stream());
  EXPECT_EQ(file.commitAs(path("a.png")), NewFile::Placed::taken);
  EXPECT_EQ(read(path("a.png")), "someone else's");
  EXPECT_EQ(file.commitAs(path("b.png")), NewFile::Placed::done);
  EXPECT_EQ(read(path("b.png")), "new");
  EXPECT_EQ(entryCount(), 2) << "no temporary file left";

  NewFile missingFolder(path("missing/c.png"));
  EXPECT_FALSE(missingFolder.ok());
  EXPECT_EQ(missingFolder.commitAs(path("missing/c.png")), NewFile::Placed::failed);
}

TEST_F(FilesTest, AFolderThatCannotTakeFilesSaysWhy) {
  EXPECT_EQ(unwritableFolderReason(dir_.string()), std::nullopt);
  EXPECT_EQ(entryCount(), 0) << "the file made to see is gone again";
  EXPECT_NE(unwritableFolderReason(path("missing")), std::nullopt);
  write(path("file"), "");
  EXPECT_NE(unwritableFolderReason(path("file")), std::nullopt);
}

// What a killed process left is removed; what a running one writes, and anything that is not
// one of our temporary files, stays.
TEST_F(FilesTest, LeftoverTemporaryFilesOfEndedProcessesAreRemoved) {
  const std::string ours = std::to_string(currentProcessId());
  const std::string gone = "2147483000";  // beyond any system's process numbers
  const struct {
    std::string name;
    bool removed;
  } cases[] = {
      {"." + std::string("261025023000000.png.") + gone + "-0.tmp", true},
      {".RVD.ini." + gone + "-17.tmp", true},
      {".261025023000001.png." + ours + "-3.tmp", false},
      {"261025023000002.png." + gone + "-0.tmp", false},  // not hidden
      {".." + gone + "-0.tmp", false},                    // no name before the tag
      {".a.png." + gone + ".tmp", false},
      {".a.png.0" + gone + "-0.tmp", false},
      {".a.png." + gone + "-x.tmp", false},
      {"261025023000003.png", false},
  };
  for (const auto& c : cases)
    write(path(c.name), "x");
  fs::create_directory(path(".dir.png." + gone + "-1.tmp"));
  EXPECT_EQ(removeLeftoverTemporaryFiles(dir_.string()), 2u);
  for (const auto& c : cases)
    EXPECT_EQ(fs::exists(path(c.name)), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(path(".dir.png." + gone + "-1.tmp"))) << "folders stay";
  EXPECT_EQ(removeLeftoverTemporaryFiles(path("missing")), 0u);
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
