#include "server/command_options.h"

#include <gtest/gtest.h>

#include "server/ingest_options.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

using IngestCommandLineTest = test::TempDirTest;

TEST_F(IngestCommandLineTest, DefaultsAndTheBrokersPortFollowTls) {
  const IngestSettings plain = parseIngestCommandLine({}).settings;
  EXPECT_EQ(plain.broker.host, "localhost");
  EXPECT_EQ(plain.broker.port, 1883);
  EXPECT_EQ(plain.store, "sqlite:ravdel-network.db");
  EXPECT_EQ(plain.limits.floodRate, 50);
  EXPECT_EQ(plain.limits.floodBurst, 5000);

  write(path("pw"), "s3cret\r\nsecond line\n");
  const IngestSettings tls =
      parseIngestCommandLine({"--tls-ca", "ca.crt", "--broker=broker.example", "--user", "in-1",
                              "--password-file", path("pw"), "--store", "postgresql://x@y/z",
                              "--flood-rate", "2.5", "--flood-burst", "10"})
          .settings;
  EXPECT_EQ(tls.broker.host, "broker.example");
  EXPECT_EQ(tls.broker.port, 8883);
  EXPECT_EQ(tls.broker.password, "s3cret");
  EXPECT_EQ(tls.broker.user, "in-1");
  EXPECT_EQ(tls.store, "postgresql://x@y/z");
  EXPECT_EQ(tls.limits.floodRate, 2.5);
  EXPECT_EQ(parseIngestCommandLine({"--broker", "10.0.0.1:1999"}).settings.broker.port, 1999);
}

TEST_F(IngestCommandLineTest, ALineThatCannotBeFollowedSaysWhy) {
  write(path("empty"), "\n");
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"--broker", "a:b"}, "--broker takes HOST or HOST:PORT"},
      {{"--broker", "host:0"}, "--broker takes HOST or HOST:PORT"},
      {{"--broker", ":1883"}, "--broker takes HOST or HOST:PORT"},
      {{"--broker"}, "--broker needs a value"},
      {{"--password-file", path("empty")}, "--password-file needs --user"},
      {{"--user", "u", "--password-file", path("empty")}, "the password file "},
      {{"--user", "u", "--password-file", path("none")}, "cannot read the password file "},
      {{"--flood-rate", "0"}, "--flood-rate takes a number from 0.001 to 1e+06"},
      {{"--flood-burst", "lots"}, "--flood-burst takes a number from 1 to 1e+09"},
      {{"--help=yes"}, "--help takes no value"},
      {{"--verbose"}, "unknown option --verbose"},
      {{"extra"}, "unexpected extra"},
  };
  for (const auto& c : cases) {
    try {
      parseIngestCommandLine(c.arguments);
      ADD_FAILURE() << c.message;
    } catch (const CommandLineError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace ravdel
