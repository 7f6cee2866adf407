// Runs the real ravdel-monitor with the simulated camera and checks what it stores, prints and
// returns. Runs end by themselves (--max-events, --duration) or by a signal the test sends;
// every wait polls for its condition, with a deadline long enough for a busy machine.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
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

#include "support/small_disk.h"
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
  // The lines of stderr that hold `text`.
  std::vector<std::string> errLines(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& line : linesOf(err()))
      if (line.find(text) != std::string::npos) found.push_back(line);
    return found;
  }
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

// The camera's return is said before any event of the returned stream, and the backend's own
// line carries the program's prefix and time like every other.
TEST_F(RavdelMonitorTest, CameraThatDropsOutComesBackAndMonitoringGoesOn) {
  start(kCamera + ",unplug-after=45,back-after=300", {});
  ASSERT_TRUE(eventually([&] { return errSays("camera lost: "); })) << err();
  ASSERT_TRUE(eventually([&] { return errSays("camera back"); })) << err();
  const std::size_t before = events().size();
  ASSERT_TRUE(eventually([&] { return events().size() > before; })) << err();
  EXPECT_TRUE(running());
  send(SIGTERM);
  EXPECT_EQ(exitStatus(), 0) << err();

  const std::string log = err();
  const auto lost = log.find("camera lost: "), back = log.find("camera back");
  EXPECT_EQ(log.substr(lost, back - lost).find(": event "), std::string::npos) << log;
  static const std::regex stopped(
      R"(ravdel-monitor: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d Test camera: stream stopped after \d+ frames, \d+ delivered)");
  EXPECT_FALSE(errLines("stream stopped").empty()) << log;
  for (const std::string& line : errLines("stream stopped"))
    EXPECT_TRUE(std::regex_match(line, stopped)) << line;
}

// A run scored against the camera's truth: the camera drops out and comes back, its frame
// count starting again at 1, yet every event is one of its hits, before and after.
TEST_F(RavdelMonitorTest, ARunWhoseCameraReturnsIsScoredByTime) {
  start(kCamera + ",unplug-after=90,back-after=300,truth=" + path("truth.jsonl"), {});
  ASSERT_TRUE(eventually([&] { return errSays("camera back"); })) << err();
  const std::size_t before = events().size();
  ASSERT_TRUE(eventually([&] { return events().size() > before + 10; })) << err();
  send(SIGTERM);
  ASSERT_EQ(exitStatus(), 0) << err();

  const pid_t analyse = fork();
  if (analyse == 0) {
    const int out = open(path("score").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0 && dup2(out, 1) >= 0) {
      execl(RAVDEL_ANALYSE_PATH, RAVDEL_ANALYSE_PATH, "--truth", path("truth.jsonl").c_str(),
            "--json", path("events.jsonl").c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(analyse, &status, 0), analyse);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read(path("score"));
  const std::string score = read(path("score"));
  EXPECT_NE(score.find("\"events\":" + std::to_string(events().size()) + ","), std::string::npos)
      << score;
  EXPECT_NE(score.find("\"false_events\":0,"), std::string::npos) << score;
  // Each event is one hit's; a frame with two hits makes one event.
  EXPECT_NE(score.find("\"found\":" + std::to_string(events().size()) + ","), std::string::npos)
      << score;
}

// The event log's folder fills up (a small disk of its own): no line is cut, the lines wait
// in memory, stderr says so once, and they follow in order once there is room again.
TEST_F(RavdelMonitorTest, EventLogOnAFullDiskWaitsAndCatchesUp) {
  const test::SmallDisk disk(dir_ / "disk", 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  disk.fillLeaving(40);
  const std::string log = path("disk/events.jsonl");
  start("synthetic:format=YUY2,size=160x120,fps=30,hits=30,seed=5,also=none,name=Test camera",
        {"--events", log, "--quiet"});
  ASSERT_TRUE(eventually([&] { return errSays("cannot write to the event log "); })) << err();
  const std::size_t written = linesOf(read(log)).size();
  ASSERT_TRUE(eventually([&] { return pictures() > written + 30; })) << "lines waiting";
  disk.free();
  ASSERT_TRUE(eventually([&] { return errSays(" takes lines again: "); })) << err();
  send(SIGTERM);
  ASSERT_EQ(exitStatus(), 0) << err();

  const std::vector<std::string> lines = linesOf(read(log));
  EXPECT_EQ(lines.size(), pictures()) << "events = lines = pictures";
  std::int64_t previous = 0;
  for (const std::string& line : lines) {
    expectEventLine(line);
    const auto at = line.find("\"frame\":") + 8;
    const std::int64_t frame = std::stoll(line.substr(at));
    EXPECT_GT(frame, previous) << "in order";
    previous = frame;
  }
  EXPECT_EQ(errLines("cannot write to the event log ").size() - errLines(" more since ").size(), 1u)
      << "said once, then counted: " << err();
  EXPECT_TRUE(errSays(", event log lines not written 0")) << err();
}

// A picture folder that stops taking pictures fails at every event: the failure is said once,
// then counted, also with --quiet.
TEST_F(RavdelMonitorTest, AFailingPictureFolderIsSaidOnceThenCounted) {
  start(kCamera, {"--quiet"});
  ASSERT_TRUE(eventually([&] { return pictures() > 0; })) << err();
  fs::rename(dir_ / "out", dir_ / "out.old");
  write(path("out"), "");  // a file where the folder was
  const auto failed = [&] {
    std::size_t count = 0;
    for (const std::string& line : events())
      count += line.find("\"file\":null") != std::string::npos;
    return count;
  };
  ASSERT_TRUE(eventually([&] { return failed() >= 10; })) << err();
  send(SIGTERM);
  ASSERT_EQ(exitStatus(), 0) << err();
  const std::vector<std::string> said = errLines("Cannot create file");
  ASSERT_EQ(said.size(), 2u) << err();
  EXPECT_EQ(said[0].find(" more since "), std::string::npos) << said[0];
  EXPECT_NE(said[1].find(" more since "), std::string::npos) << said[1];
}

// What a killed run left in the picture folder is cleared at the next start, and said.
TEST_F(RavdelMonitorTest, LeftoverTemporaryFilesAreRemovedAtStart) {
  fs::create_directory(dir_ / "out");
  write(path("out/.261025023000000.png.2147483000-0.tmp"), "half a picture");
  ASSERT_EQ(run(kCamera, {"--max-events", "1"}), 0) << err();
  EXPECT_FALSE(fs::exists(path("out/.261025023000000.png.2147483000-0.tmp")));
  EXPECT_TRUE(errSays("Removed 1 temporary file that a program which ended left in ")) << err();
}

// Settings the program cannot use are named on stderr with what it uses instead.
TEST_F(RavdelMonitorTest, SettingsItCannotUseAreSaid) {
  ASSERT_EQ(::mkfifo(path("fifo.ini").c_str(), 0644), 0);
  const struct {
    std::string settings;
    std::string says;
  } cases[] = {
      {path("RVD.ini"),
       "Settings file " + path("RVD.ini") + ": [Settings] Limit=999 is outside 5..255; using 255"},
      {path("fifo.ini"), "Settings file " + path("fifo.ini") +
                             ": cannot be read (not a regular file); using the defaults"},
  };
  write(path("RVD.ini"), "[Settings]\nLimit=999\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    ASSERT_EQ(run(kCamera, {"--settings", c.settings, "--duration", "0.3"}), 0) << err();
    EXPECT_TRUE(errSays(c.says)) << err();
  }
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
      {kCamera,
       {"--out", path("file")},
       "could not start monitoring: The output directory " + path("file") +
           "/ is not a folder: no picture can be stored there"},
      {"", {}, "could not start monitoring"},  // no camera at all on a machine without one
  };
  write(path("file"), "");
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
