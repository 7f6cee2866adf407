#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

using FilesUtf8Test = test::TempDirTest;

TEST_F(FilesUtf8Test, PathsOutsideAsciiAreReadAndReplaced) {
  const std::string folder = path("Ereignisse \xC3\xA4\xC3\xB6 \xE6\xB8\xAC");
  ASSERT_TRUE(std::filesystem::create_directory(pathFromUtf8(folder)));
  const std::string target = folder + "/\xC3\xBC.png";
  write(target, "old");
  ASSERT_TRUE(replaceFileContents(target, "new"));
  std::string bytes;
  EXPECT_EQ(readWholeFile(target, bytes), FileRead::ok);
  EXPECT_EQ(bytes, "new");
  FileWithTime withTime;
  EXPECT_EQ(readFileWithTime(target, 16, withTime), std::nullopt);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pathFromUtf8(folder)),
                          std::filesystem::directory_iterator{}),
            1)
      << "no temporary file left";
  EXPECT_EQ(utf8FromPath(pathFromUtf8(target)), target);
}

}  // namespace
}  // namespace ravdel
