// ravdel-net's figure commands, run in the test's process as the dispatcher runs them: what
// they print, and their exit status for monitoring systems and scripts.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "server/figure_commands.h"
#include "store/store.h"
#include "store/time_bins.h"
#include "support/child_process.h"
#include "support/network_rows.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

constexpr std::int64_t kHour0 = 491310 * kHourUs;  // 2026-01-18T06:00:00Z

class RavdelNetTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    store_ = "sqlite:" + path("net.db");
    auto store = Store::open(store_);
    std::vector<EventRow> events;
    for (int i = 0; i < 10; ++i)
      events.push_back(test::eventAt("a", i + 1, kHour0 + (10 + i) * kMinuteUs));
    events.push_back(test::eventAt("b", 1, kHour0 + 10 * kMinuteUs + 500));
    store->insertEvents(events);
    std::vector<HeartbeatRow> beats;
    for (int i = 0; i < 30; ++i)
      beats.push_back(test::heartbeatOver("a", i + 1, kHour0 + (10 + i) * kMinuteUs,
                                          kHour0 + (11 + i) * kMinuteUs, 60000));
    store->insertHeartbeats(beats);
  }

  int run(const std::string& command, std::vector<std::string> words) {
    out_.str("");
    err_.str("");
    words.insert(words.begin(), {command, "--store", store_});
    return runNetCommand(figureCommands(), words, out_, err_);
  }

  std::string store_;
  std::ostringstream out_, err_;
};

TEST_F(RavdelNetTest, RatesAsATableCsvAndJson) {
  ASSERT_EQ(run("rates", {"--station", "a", "--since", "2026-01-18"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("a\t2026-01-18T06:00:00Z\t10\t0.500\t20.000\t"), std::string::npos)
      << out_.str();
  ASSERT_EQ(run("rates", {"--since=2026-01-18", "--bin", "day", "--json"}), 0) << err_.str();
  const auto bins = nlohmann::json::parse(out_.str());
  ASSERT_EQ(bins.size(), 2u);
  EXPECT_EQ(bins[0]["rate_per_hour"], 20.0);
  EXPECT_TRUE(bins[1]["rate_per_hour"].is_null()) << "b has no live time: no rate";
  ASSERT_EQ(run("rates", {"--station", "b", "--since", "2026-01-18", "--csv"}), 0);
  EXPECT_NE(out_.str().find("\nb,1768716000000000,3600,1,0.000,,,,0.000000\n"), std::string::npos)
      << out_.str();
}

TEST_F(RavdelNetTest, CoincidencesAndExport) {
  ASSERT_EQ(run("coincidences", {"--since", "2026-01-18T06:00Z", "--until", "2026-01-18T07:00Z"}),
            0)
      << err_.str();
  EXPECT_NE(out_.str().find("found 1 coincidences"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("accidental background 0.00 +- 0.00 (20 shifted searches)"),
            std::string::npos)
      << out_.str();
  ASSERT_EQ(run("coincidences", {"--window", "0.1", "--json"}), 0) << err_.str();
  EXPECT_EQ(nlohmann::json::parse(out_.str())["found"], 0) << "0.5 ms apart, a 0.1 ms window";
  ASSERT_EQ(run("export", {"--since", "2026-01-18", "--until", "2026-01-19", "--format", "jsonl",
                           "--station", "b"}),
            0);
  const std::string exported = out_.str();
  EXPECT_EQ(std::count(exported.begin(), exported.end(), '\n'), 1) << exported;
}

// Bad words end with status 2 and a line naming the word at fault; a store that is not there
// with 1, and no new file.
TEST_F(RavdelNetTest, UsageErrorsNameTheWordAtFault) {
  struct Case {
    const char* command;
    std::vector<std::string> words;
    int status;
    const char* message;
  } cases[] = {
      {"rates", {"--bin", "week"}, 2, "--bin is hour or day, not week"},
      {"rates", {"--since", "yesterday"}, 2, "--since \"yesterday\" is not a moment"},
      {"rates", {"--json", "--csv"}, 2, "--json or --csv, not both"},
      {"rates", {"--frobnicate"}, 2, "unknown option --frobnicate"},
      {"rates", {"--station"}, 2, "--station needs a value"},
      {"rates", {"--json=yes"}, 2, "--json takes no value"},
      {"rates", {"today"}, 2, "ravdel-net rates: usage: ravdel-net rates [--station S]"},
      {"coincidences", {"--window", "-3"}, 2, "--window is auto or milliseconds"},
      {"coincidences", {"--shifts", "5"}, 2, "--shifts takes a whole number from 20 to 1000"},
      {"coincidences", {"--until", "now"}, 2, "--until needs --since"},
      {"export", {"--since", "-1d"}, 2, "--since and --until are needed"},
      {"export", {"--since", "-1d", "--until", "now", "--format", "xml"}, 2, "csv or jsonl"},
      {"serve", {"--listen", "localhost"}, 2, "--listen is HOST:PORT"},
      {"serve", {"--listen", "127.0.0.1:99999"}, 2, "no port from 0 to 65535"},
      {"serve", {"--token", "a/b"}, 2, "--token takes letters"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.command, c.words), c.status) << c.message;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
  }
  std::ostringstream out, err;
  EXPECT_EQ(runNetCommand(figureCommands(), {"health", "--store", path("missing.db")}, out, err),
            1);
  EXPECT_NE(err.str().find("there is no store"), std::string::npos) << err.str();
  EXPECT_EQ(entryCount(), 1) << "no store made for a name given wrongly";
}

// One program holds the account and the figure commands, and one --help lists them all.
TEST(RavdelNetProgramTest, OneHelpListsEveryCommand) {
  test::ChildOptions options;
  options.argv = {RAVDEL_NET_PATH, "--help"};
  std::string output;
  ASSERT_EQ(test::runToEnd(options, output), 0) << output;
  for (const char* command : {"station add", "ingest-account add", "rates", "coincidences",
                              "export", "health", "serve", "The figures' moments"})
    EXPECT_NE(output.find(command), std::string::npos) << command << " in\n" << output;
  options.argv = {RAVDEL_NET_PATH, "frobnicate"};
  EXPECT_EQ(test::runToEnd(options, output), 2);
  EXPECT_NE(output.find("ravdel-net: no command frobnicate"), std::string::npos) << output;
}

// Both stations fell silent long ago: health says so and ends with status 1.
TEST_F(RavdelNetTest, HealthFailsWhenAStationIsDown) {
  EXPECT_EQ(run("health", {}), 1);
  EXPECT_NE(out_.str().find("a\tdown\tlast heartbeat 2026-01-18T06:40:00Z"), std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("b\tdown\tlast heartbeat never\tnever sent a heartbeat"),
            std::string::npos)
      << out_.str();
}

}  // namespace
}  // namespace ravdel
