#include "server/accounts.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

using AccountsTest = test::TempDirTest;

// The broker's own form: name, "$7$", the iterations, base64 of a 12-byte salt and of the
// 64-byte PBKDF2-SHA512 hash. (That the broker accepts it, the end-to-end test shows.)
TEST_F(AccountsTest, PasswordLinesAreInTheBrokersForm) {
  const std::vector<std::uint8_t> salt(12, 7);
  const std::string line = passwordFileLine("alpha", "secret", salt);
  EXPECT_TRUE(std::regex_match(
      line, std::regex(R"(alpha:\$7\$101\$BwcHBwcHBwcHBwcH\$[A-Za-z0-9+/]{86}==)")))
      << line;
  EXPECT_NE(line, passwordFileLine("alpha", "secret2", salt));
  EXPECT_NE(randomPassword(), randomPassword());
  EXPECT_TRUE(std::regex_match(randomPassword(), std::regex("[A-Za-z2-9]{24}")));
}

TEST_F(AccountsTest, StationsShareOnePatternBlockAndIngestersGetTheirOwnRules) {
  const std::string passwords = path("passwd"), acl = path("acl");
  write(passwords, "existing:$7$101$x$y");  // no line break at its end
  const BrokerAccount alpha = addStationAccount("alpha", passwords, acl);
  addStationAccount("beta.2", passwords, acl);
  addIngestAccount("ingest-1", passwords, acl);
  EXPECT_EQ(alpha.name, "alpha");
  EXPECT_EQ(alpha.password.size(), 24u);

  const std::string lines = read(passwords);
  EXPECT_TRUE(std::regex_search(lines, std::regex("^existing:\\$7\\$101\\$x\\$y\nalpha:\\$7\\$")))
      << lines;
  EXPECT_NE(lines.find("\nbeta.2:$7$"), std::string::npos);
  EXPECT_NE(lines.find("\ningest-1:$7$"), std::string::npos);
  EXPECT_EQ(lines.find(alpha.password), std::string::npos) << "only the hash is kept";

  const std::string rules = read(acl);
  const auto count = [&](const std::string& line) {
    std::size_t n = 0;
    for (auto at = rules.find(line); at != std::string::npos; at = rules.find(line, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("pattern write ravdel/%u/events\n"), 1u);
  EXPECT_EQ(count("pattern read ravdel/%u/ack\n"), 1u);
  EXPECT_NE(rules.find("user ingest-1\ntopic read ravdel/+/events\ntopic read ravdel/+/heartbeats\n"
                       "topic write ravdel/+/ack\n"),
            std::string::npos)
      << rules;
}

// A name taken or not allowed leaves both files as they were.
TEST_F(AccountsTest, ANameTakenOrNotAllowedChangesNothing) {
  const std::string passwords = path("passwd"), acl = path("acl");
  addStationAccount("alpha", passwords, acl);
  const std::string before = read(passwords) + read(acl);
  for (const char* name : {"alpha", "", "a/b", "a+b", "#", "has space"}) {
    EXPECT_THROW(addStationAccount(name, passwords, acl), AccountError) << name;
    EXPECT_THROW(addIngestAccount(name, passwords, acl), AccountError) << name;
  }
  EXPECT_EQ(read(passwords) + read(acl), before);
  EXPECT_THROW(addStationAccount("gamma", path("no/such/folder"), acl), AccountError);
}

}  // namespace
}  // namespace ravdel
