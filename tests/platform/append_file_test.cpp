#include "platform/append_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using AppendFileTest = test::TempDirTest;

TEST_F(AppendFileTest, AppendsLinesAfterWhatIsThere) {
  write(path("events.jsonl"), "{\"old\":1}\n");
  AppendFile first;
  ASSERT_TRUE(first.open(path("events.jsonl"))) << first.error();
  EXPECT_TRUE(first.appendLine("{\"n\":1}"));
  EXPECT_FALSE(first.appendLine("{\"n\":2}\n{\"n\":3}")) << "one call, one line";
  EXPECT_FALSE(first.error().empty());
  AppendFile moved(std::move(first));
  EXPECT_TRUE(moved.appendLine("{\"n\":4}"));
  moved.close();
  EXPECT_FALSE(moved.appendLine("{\"n\":5}"));
  EXPECT_EQ(read(path("events.jsonl")), "{\"old\":1}\n{\"n\":1}\n{\"n\":4}\n");

  AppendFile missing;
  EXPECT_FALSE(missing.open(path("missing/events.jsonl")));
  EXPECT_FALSE(missing.error().empty());
  EXPECT_FALSE(missing.isOpen());
}

TEST_F(AppendFileTest, WritersOnOneFileInterleaveOnlyWholeLines) {
  constexpr int kLines = 2000;
  // Long lines: a line written in pieces would soon be torn by the other writer.
  const auto line = [](int writer, int n) {
    return std::to_string(writer) + ":" + std::to_string(n) + ":" +
           std::string(static_cast<std::size_t>(100 + n % 300), 'x');
  };
  std::multiset<std::string> expected;
  bool ok[2] = {true, true};
  std::thread writers[2];
  for (int w = 0; w < 2; ++w) {
    for (int n = 0; n < kLines; ++n)
      expected.insert(line(w, n));
    writers[w] = std::thread([&, w] {
      AppendFile log;
      ok[w] = log.open(path("events.jsonl"));
      for (int n = 0; n < kLines && ok[w]; ++n)
        ok[w] = log.appendLine(line(w, n));
    });
  }
  for (auto& writer : writers)
    writer.join();
  ASSERT_TRUE(ok[0] && ok[1]);

  std::istringstream file(read(path("events.jsonl")));
  for (std::string text; std::getline(file, text);) {
    const auto found = expected.find(text);
    ASSERT_NE(found, expected.end()) << "torn or repeated: " << text.substr(0, 40);
    expected.erase(found);
  }
  EXPECT_TRUE(expected.empty()) << expected.size() << " lines lost";
}

// A line cut short by a crash before its piece could be taken off: the next line does not
// join it.
TEST_F(AppendFileTest, APieceOfALineAtTheEndIsTakenOffBeforeTheNextLine) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"{\"n\":1}\n{\"n\":2", "{\"n\":1}\nnext\n"},
      {"{\"n\":1", "next\n"},
      {"{\"n\":1}\n", "{\"n\":1}\nnext\n"},
      {"", "next\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    write(path("events.jsonl"), c.before);
    AppendFile log;
    ASSERT_TRUE(log.open(path("events.jsonl"))) << log.error();
    ASSERT_TRUE(log.appendLine("next")) << log.error();
    log.close();
    EXPECT_EQ(read(path("events.jsonl")), c.after);
  }
}

TEST_F(AppendFileTest, ReopenAfterRotationWritesANewFile) {
  AppendFile log;
  ASSERT_TRUE(log.open(path("events.jsonl")));
  ASSERT_TRUE(log.appendLine("before"));
  fs::rename(path("events.jsonl"), path("events.jsonl.1"));
  ASSERT_TRUE(log.reopen()) << log.error();
  ASSERT_TRUE(log.appendLine("after"));
  EXPECT_EQ(read(path("events.jsonl.1")), "before\n");
  EXPECT_EQ(read(path("events.jsonl")), "after\n");
}

}  // namespace
}  // namespace ravdel
