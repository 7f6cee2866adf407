#include "monitor/output_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

class OutputFolderTest : public test::TempDirTest {
 protected:
  std::optional<std::string> accept(const std::string& typed, bool yes) {
    asked = 0;
    warnings.clear();
    OutputFolderPrompts prompts;
    prompts.confirmCreate = [this, yes] {
      ++asked;
      return yes;
    };
    prompts.warn = [this](const std::string& text) { warnings.push_back(text); };
    return acceptTypedFolder(path(""), typed, prompts);
  }
  // The folder as the rule names it: clean, with the system's separators.
  std::string clean(const std::string& name) const {
    return utf8FromPath((dir_ / native(name)).lexically_normal());
  }
  int asked = 0;
  std::vector<std::string> warnings;
};

TEST_F(OutputFolderTest, ExistingMissingAndImpossibleDirectories) {
  std::filesystem::create_directory(dir_ / "there");
  write(path("file"), "x");

  // Relative to the folder shown; a trailing separator names the same folder.
  EXPECT_EQ(accept("./there/../there/", true), path("there"));
  EXPECT_EQ(asked, 0);

  // No keeps the chooser open and makes nothing.
  EXPECT_EQ(accept("new/deep", false), std::nullopt);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new"));

  // Yes makes it with its parents; an absolute path stands on its own.
  EXPECT_EQ(accept(path("new/deep"), true), clean("new/deep"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "new" / "deep"));

  // A file in the way: said, and the chooser stays open.
  EXPECT_EQ(accept("file", true), std::nullopt);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "\"" + path("file") + "\" is not a directory.");

  // A directory that cannot be made is not taken: every event would fail to be stored.
  EXPECT_EQ(accept("file/below", true), std::nullopt);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("Cannot create the directory"), std::string::npos) << warnings[0];

  EXPECT_EQ(accept("", true), std::nullopt);
}

}  // namespace
}  // namespace ravdel
