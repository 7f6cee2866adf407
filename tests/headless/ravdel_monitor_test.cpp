// Runs the real ravdel-monitor with the simulated camera and checks what it stores, prints and
// returns. Runs end by themselves (--max-events, --duration) or by a signal the test sends;
// every wait polls for its condition, with a deadline long enough for a busy machine.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr const char* kCameraName = "Test camera";
// 160x120 YUY2 at 30 frames a second, one format only, about ten hits a second.
const std::string kCamera =
    "synthetic:format=YUY2,size=160x120,fps=30,hits=10,seed=7,also=none,name=Test camera";

constexpr const char* kKeys[] = {"time",   "unix_ms", "file",      "x",     "y",      "r",
                                 "g",      "b",       "limit",     "width", "height", "fourcc",
                                 "camera", "frame",   "lens_mean", "live_s"};

// Polls `condition` until it holds or a minute has passed.
bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// The value of a string key in a line of the event log; "" when it is missing or no string.
std::string stringValue(const std::string& line, const std::string& key) {
  const std::string opening = "\"" + key + "\":\"";
  const auto at = line.find(opening);
  if (at == std::string::npos) return "";
  const auto from = at + opening.size();
  return line.substr(from, line.find('"', from) - from);
}

// A whole line of the event log: every key, in order, and the time in its ISO form.
void expectEventLine(const std::string& line) {
  ASSERT_EQ(line.rfind("{\"time\":\"", 0), 0u) << line;
  ASSERT_EQ(line.back(), '}') << line;
  std::size_t previous = 0;
  for (const char* key : kKeys) {
    const auto at = line.find("\"" + std::string(key) + "\":");
    ASSERT_NE(at, std::string::npos) << key << " missing in " << line;
    EXPECT_GE(at, previous) << key << " out of order in " << line;
    previous = at;
  }
  static const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(stringValue(line, "time"), iso)) << line;
}

class RavdelMonitorTest : public test::TempDirTest {
 protected:
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    TempDirTest::TearDown();
  }

  // Starts the program in the test folder with `camera` as the simulated camera, picked by
  // name whatever cameras the machine has, and its settings, pictures and event log in the
  // folder; `args` come last and so override. stdout and stderr go to files there.
  void start(const std::string& camera, const Args& args) {
    Args all = {RAVDEL_MONITOR_PATH, "--settings",         path("RVD.ini"), "--out",    path("out"),
                "--events",          path("events.jsonl"), "--camera",      kCameraName};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = path("stdout"), err = path("stderr");
    // Gone before the program starts, so that no wait is met by an earlier run's lines.
    fs::remove(out);
    fs::remove(err);
    pid_ = fork();
    if (pid_ == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o >= 0 && e >= 0 && dup2(o, 1) >= 0 && dup2(e, 2) >= 0 && chdir(dir_.c_str()) == 0 &&
          setenv("RAVDEL_SIMULATED_CAMERA", camera.c_str(), 1) == 0) {
        execv(argv[0], argv.data());
      }
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
  }

  // The exit status once the program has ended; -1 when a signal ended it or it did not end.
  int exitStatus() {
    int status = 0;
    if (!eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int run(const std::string& camera, const Args& args) {
    start(camera, args);
    return exitStatus();
  }

  bool running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }
  void send(int signal) const { ASSERT_EQ(::kill(pid_, signal), 0); }

  std::string err() const { return read(path("stderr")); }
  bool errSays(const std::string& text) const { return err().find(text) != std::string::npos; }
  std::vector<std::string> events() const { return linesOf(read(path("events.jsonl"))); }
  std::size_t pictures() const {
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir_ / "out", error))
      count += entry.path().extension() == ".png";
    return count;
  }

  pid_t pid_ = -1;
};

TEST_F(RavdelMonitorTest, EachEventIsAPictureAndAWholeJsonLine) {
  ASSERT_EQ(run(kCamera, {"--max-events", "5", "--json"}), 0) << err();
  const std::vector<std::string> lines = events();
  ASSERT_EQ(lines.size(), 5u) << err();
  EXPECT_EQ(pictures(), 5u);
  for (const std::string& line : lines) {
    expectEventLine(line);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "out" / stringValue(line, "file"))) << line;
    EXPECT_EQ(stringValue(line, "camera"), kCameraName);
    EXPECT_EQ(stringValue(line, "fourcc"), "YUY2");
    EXPECT_NE(line.find("\"limit\":150,\"width\":160,\"height\":120,"), std::string::npos) << line;
  }
  EXPECT_EQ(linesOf(read(path("stdout"))), lines);
  EXPECT_TRUE(errSays("stopped (--max-events): ")) << err();
}

// The limit comes from the settings file unless --limit overrides it; no channel is above 255.
TEST_F(RavdelMonitorTest, LimitFromSettingsOrCommandLine) {
  const struct {
    const char* settings;
    Args args;
    std::size_t events;
  } cases[] = {
      {"", {"--limit", "255", "--duration", "1"}, 0},
      {"[Settings]\nLimit=255\n", {"--duration", "1"}, 0},
      {"[Settings]\nLimit=255\n", {"--limit", "150", "--max-events", "1"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.at(1));
    write(path("RVD.ini"), c.settings);
    ASSERT_EQ(run(kCamera, c.args), 0) << err();
    EXPECT_EQ(events().size(), c.events) << err();
    EXPECT_EQ(pictures(), c.events);
  }
  EXPECT_EQ(read(path("RVD.ini")), "[Settings]\nLimit=255\n");  // never written
}

// Twenty hot pixels would make every frame an event: with the mask, calibration takes the
// first 90 frames and every event that follows is at a hit of the truth file.
TEST_F(RavdelMonitorTest, HotPixelMaskLeavesOnlyTheHits) {
  const std::string camera = kCamera + ",hot=20,truth=" + path("truth.jsonl");
  ASSERT_EQ(run(camera, {"--hot-pixel-mask", "--max-events", "8"}), 0) << err();
  EXPECT_TRUE(errSays("Hot-pixel mask: 20 pixels masked")) << err();
  const std::vector<std::string> lines = events();
  ASSERT_EQ(lines.size(), 8u);
  const std::string truth = read(path("truth.jsonl"));
  for (const std::string& line : lines) {
    const auto at = line.find(",\"x\":");
    const std::string place = line.substr(at, line.find(",\"r\":") - at);
    EXPECT_NE(truth.find(place + ",\"shape\""), std::string::npos) << line;
  }
}

// The guard comes on from the settings file, its level from the command line (the file's
// 255 is never reached by this leak); counting pauses during the leak and comes back, and
// every event carries its clusters.
TEST_F(RavdelMonitorTest, LightLeakGuardPausesCountingUntilTheLeakIsOver) {
  write(path("RVD.ini"), "[Detection]\nlight-leak-guard=1\nleak-level=255\n");
  start(kCamera + ",leak=1+3,leak-level=120", {"--leak-level", "20", "--clusters"});
  ASSERT_TRUE(eventually([&] { return errSays("Light leak over: counting again"); })) << err();
  const std::size_t resumedWith = events().size();
  ASSERT_TRUE(eventually([&] { return events().size() > resumedWith; })) << err();
  send(SIGTERM);
  EXPECT_EQ(exitStatus(), 0) << err();
  const std::string log = err();
  EXPECT_LT(log.find("Light leak: counting paused"), log.find("Light leak over")) << log;
  for (const std::string& line : events())
    EXPECT_NE(line.find(",\"clusters\":[{\"x\":"), std::string::npos) << line;
}

TEST_F(RavdelMonitorTest, CameraThatDropsOutComesBackAndMonitoringGoesOn) {
  start(kCamera + ",unplug-after=45,back-after=300", {});
  ASSERT_TRUE(eventually([&] { return errSays("camera lost: "); })) << err();
  ASSERT_TRUE(eventually([&] { return errSays("camera back"); })) << err();
  const std::size_t before = events().size();
  ASSERT_TRUE(eventually([&] { return events().size() > before; })) << err();
  EXPECT_TRUE(running());
  send(SIGTERM);
  EXPECT_EQ(exitStatus(), 0) << err();
}

TEST_F(RavdelMonitorTest, TerminationSignalsStopWithASummary) {
  const struct {
    int number;
    const char* name;
  } cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start(kCamera, {});
    // The start line comes once the signals are taken.
    ASSERT_TRUE(eventually([&] { return errSays("monitoring \"Test camera\", format 160x120/"); }))
        << err();
    send(c.number);
    EXPECT_EQ(exitStatus(), 0) << err();
    EXPECT_TRUE(errSays("stopped (" + std::string(c.name) + "): SPM ")) << err();
    EXPECT_TRUE(errSays(", frames delivered ")) << err();
  }
}

TEST_F(RavdelMonitorTest, HangupReopensTheEventLogAfterRotation) {
  start(kCamera, {});
  ASSERT_TRUE(eventually([&] { return !events().empty(); })) << err();
  fs::rename(path("events.jsonl"), path("events.jsonl.1"));
  send(SIGHUP);
  ASSERT_TRUE(eventually([&] { return errSays("event log reopened"); })) << err();
  ASSERT_TRUE(eventually([&] { return !events().empty(); })) << err();
  send(SIGTERM);
  ASSERT_EQ(exitStatus(), 0) << err();
  // No event was lost between the two files.
  EXPECT_EQ(linesOf(read(path("events.jsonl.1"))).size() + events().size(), pictures());
}

TEST_F(RavdelMonitorTest, KillLeavesOnlyWholeLines) {
  start("synthetic:format=YUY2,size=160x120,fps=300,hits=300,seed=3,also=none,name=Test camera",
        {});
  ASSERT_TRUE(eventually([&] { return events().size() >= 20; })) << err();
  send(SIGKILL);
  EXPECT_EQ(exitStatus(), -1);
  const std::string log = read(path("events.jsonl"));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  for (const std::string& line : linesOf(log))
    expectEventLine(line);
}

TEST_F(RavdelMonitorTest, BadOptionExitsTwoNamingIt) {
  const struct {
    Args args;
    std::string says;
  } cases[] = {
      {{"--limit", "300"}, "--limit: '300' is not a number from 0 to 255"},
      {{"--limit"}, "--limit: needs a value"},
      {{"--format", "12y"}, "--format: '12y' is not"},
      {{"--format", "640x/YUY2"}, "--format: '640x/YUY2' is not"},
      {{"--duration", "0"}, "--duration: '0' is not"},
      {{"--max-events", "-1"}, "--max-events: '-1' is not"},
      {{"--gray=yes"}, "--gray: takes no value"},
      {{"--frobnicate"}, "--frobnicate: unknown option"},
      {{"stray"}, "'stray': unexpected argument"},
      {{"--events", path("missing/events.jsonl")}, "--events: '" + path("missing/events.jsonl")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    ASSERT_EQ(run(kCamera, c.args), 2) << err();
    const std::vector<std::string> lines = linesOf(err());
    ASSERT_EQ(lines.size(), 1u) << err();
    EXPECT_EQ(lines[0].rfind("ravdel-monitor: " + c.says, 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("--help"), std::string::npos) << lines[0];
  }
}

TEST_F(RavdelMonitorTest, HelpDocumentsEveryOption) {
  ASSERT_EQ(run(kCamera, {"--help"}), 0);
  const std::string help = read(path("stdout"));
  for (const char* option :
       {"--list", "--camera", "--format", "--limit", "--gray", "--inverse", "--hot-pixel-mask",
        "--light-leak-guard", "--leak-level", "--clusters", "--cluster-level", "--out", "--events",
        "--settings", "--duration", "--max-events", "--quiet", "--json", "--help"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

TEST_F(RavdelMonitorTest, ExitsOneWhenMonitoringCannotStart) {
  const struct {
    std::string camera;
    Args args;
    std::string says;
  } cases[] = {
      {kCamera, {"--camera", "No such camera"}, "could not start monitoring \"No such camera\""},
      {kCamera, {"--format", "1"}, "The camera has no format number 1."},
      {kCamera, {"--format", "320x240/I420"}, "The camera has no format 320x240/I420."},
      {kCamera + ",uncovered", {}, "Stick a piece of duct tape over the camera lens!"},
      {"", {}, "could not start monitoring"},  // no camera at all on a machine without one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    ASSERT_EQ(run(c.camera, c.args), 1) << err();
    EXPECT_TRUE(errSays(c.says)) << err();
    EXPECT_TRUE(events().empty());
  }
}

TEST_F(RavdelMonitorTest, ListShowsEachCameraWithItsFormatTable) {
  ASSERT_EQ(
      run("synthetic:format=YUY2,size=160x120,also=I420@320x240,name=Test camera", {"--list"}), 0)
      << err();
  EXPECT_NE(read(path("stdout"))
                .find("  Test camera\n"
                      "    0  160*120  (YUY2)\n"
                      "    1  320*240  (I420)\n"),
            std::string::npos)
      << read(path("stdout"));
  EXPECT_EQ(err().find("stream stopped"), std::string::npos)
      << "a camera opened only to list it has nothing to report: " << err();
}

}  // namespace
}  // namespace ravdel
