#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/fourcc.h"
#include "capture/headless_main_loop.h"
#include "capture/video_image.h"
#include "monitor/ini_file.h"
#include "monitor/settings.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "support/fake_camera.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;

// The wall clock the monitor reads in the tests that step it or stop it.
std::atomic<std::int64_t> testClockMs{0};
std::int64_t testClock() {
  return testClockMs.load();
}

// Remembers what the monitor showed and told its sinks; the options are the test's to set.
class RecordingView final : public MonitorView, public EventSink {
 public:
  void showCameraList(const std::vector<std::string>& list, std::int32_t position,
                      bool canPick) override {
    entries = list;
    selected = position;
    listEnabled = canPick;
  }
  void showCameraSelection(std::int32_t position) override { selected = position; }
  void showMonitoringState(bool state) override {
    monitoring = state;
    listEnabled = !state;
  }
  void showFrameSize(std::int32_t w, std::int32_t h) override { frameSize = {w, h}; }
  void showPeak(std::uint8_t r, std::uint8_t g, std::uint8_t b) override { peak = {r, g, b}; }
  void showThumbnail(const FrameBitmap& picture) override {
    thumbnail = {picture.width(), picture.height()};
  }
  void showFramesLastMinute(std::int32_t frames) override { spm = frames; }
  void showUpTime(const std::string& text) override { upTime = text; }
  void showEventCount(std::int32_t count) override { events = count; }
  void showEventsPerDay(const std::string& text) override { epd = text; }
  void appendLogLine(const std::string& line) override { log.push_back(line); }
  void showDirectory(const std::string& label) override { directory = label; }
  UserOptions userOptions() const override { return options; }
  void showUserOptions(const UserOptions& shown) override { options = shown; }
  void setBusy(bool on) override { busy += on ? 1 : -1; }
  void showMessage(MessageKind kind, const std::string& text) override {
    messages.push_back({kind, text});
  }
  void showFrameFailure(const std::string& text, std::function<void()> closed) override {
    failures.push_back(text);
    closeFailure = std::move(closed);
  }
  void showEventNotice() override { ++notices; }
  void playEventSound() override { ++sounds; }
  void runStarted(const RunStart& start) override { runs.push_back("started " + start.camera); }
  void runStopped(const MonitorStatus&) override { runs.push_back("stopped"); }
  void eventRecorded(const EventReport& report) override { reports.push_back(report); }
  void minuteTicked(const MonitorStatus& status) override { ticks.push_back(status); }
  void cameraLost(const std::string& camera, const std::string& why) override {
    lost.push_back(camera + ": " + why);
  }
  void cameraBack(const std::string& camera) override { back.push_back(camera); }
  void lightLeakStarted() override { leaks.push_back("started"); }
  void lightLeakEnded() override { leaks.push_back("ended"); }

  struct Message {
    MessageKind kind;
    std::string text;
  };
  std::vector<std::string> entries;
  std::int32_t selected = -2;
  bool listEnabled = false;
  bool monitoring = false;
  std::pair<int, int> frameSize{0, 0};
  std::vector<int> peak;
  std::pair<int, int> thumbnail{0, 0};
  std::optional<int> spm;
  std::string upTime = "...", epd = "...", directory;
  std::optional<int> events;
  std::vector<std::string> log;
  UserOptions options;
  int busy = 0;
  std::vector<Message> messages;
  std::vector<std::string> failures;
  std::function<void()> closeFailure;
  int notices = 0, sounds = 0;
  std::vector<EventReport> reports;
  std::vector<MonitorStatus> ticks;
  std::vector<std::string> lost, back, leaks, runs;
};

class MonitorTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    directory_ = dir_.string() + "/";
  }

  void open(MonitorConfig config = {}, const std::string& settings = "RVD.ini") {
    monitor_.emplace(backend_, loop_, view_, config);
    monitor_->addSink(view_);
    monitor_->Open(path(settings), directory_);
  }

  // A 4x2 RGB frame of the fake camera, black but for the pixels `lit` at 160 (one of them
  // passes the lens check).
  void deliverLit(const std::vector<std::pair<int, int>>& lit) {
    std::vector<std::uint8_t> frame(4 * 2 * 3, 0);
    for (const auto& [x, y] : lit)
      std::fill_n(frame.begin() + ((1 - y) * 4 + x) * 3, 3, std::uint8_t{160});
    loop_.processPending();
    backend_.last->deliverBytes(frame);
    loop_.processPending();
  }

  bool logged(const std::string& line) const {
    return std::find(view_.log.begin(), view_.log.end(), line) != view_.log.end();
  }

  // One frame of equal bytes through the real delivery path: the loop goes idle, the fake
  // camera delivers, the notification reaches OnNewFrame.
  void deliver(std::uint8_t value) {
    loop_.processPending();
    ASSERT_NE(backend_.last, nullptr);
    backend_.last->deliver(value);
    loop_.processPending();
  }

  // Runs the loop (its timers too) until `done`, for at most a generous while.
  bool runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      loop_.run(std::chrono::milliseconds(20));
    }
    return true;
  }

  int pictures() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir_))
      count += entry.path().extension() == ".png" ? 1 : 0;
    return count;
  }

  test::FakeBackend backend_;
  HeadlessMainLoop loop_;
  RecordingView view_;
  std::string directory_;
  std::optional<Monitor> monitor_;
};

TEST_F(MonitorTest, RunAndStopSwitchStatesLogFormatsAndResetTheStatistics) {
  open();
  EXPECT_TRUE(monitor_->CaptureReady);
  EXPECT_EQ(view_.entries, (std::vector<std::string>{"Cam A", "Cam B"}));
  EXPECT_EQ(view_.selected, 0) << "no settings file: the first camera";
  EXPECT_EQ(view_.options.limit, 150);
  EXPECT_EQ(monitor_->OutputDirectory, directory_);

  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_TRUE(monitor_->Running);
  EXPECT_TRUE(view_.monitoring);
  EXPECT_TRUE(monitor_->LensCheckPending);
  EXPECT_TRUE(monitor_->SPMTimer().isActive());
  EXPECT_EQ(view_.upTime, "0 h");
  EXPECT_EQ(view_.events, 0);
  EXPECT_EQ(view_.epd, "-");
  EXPECT_EQ(view_.busy, 0) << "the hourglass goes again";
  EXPECT_EQ(view_.log, (std::vector<std::string>{"4*2  (RGB )", ""}));
  EXPECT_EQ(monitor_->captureObject()->deviceName(), "Cam A");

  monitor_->CamLstCBChange(1);
  monitor_->StopSBClick();
  EXPECT_FALSE(monitor_->Running);
  EXPECT_FALSE(view_.monitoring);
  EXPECT_FALSE(monitor_->captureObject()->isOpen());
  EXPECT_TRUE(monitor_->SPMTimer().isActive()) << "Stop leaves the minute tick running";
  EXPECT_EQ(monitor_->CameraIndex, 1);
  EXPECT_EQ(view_.selected, 1) << "the refreshed list keeps the user's camera";
  EXPECT_TRUE(view_.listEnabled);

  monitor_->Close();
  EXPECT_FALSE(monitor_->CaptureReady);
  EXPECT_EQ(backend_.liveDevices, 0);
}

TEST_F(MonitorTest, RunStreamsTheLastFormatItCanConvert) {
  const std::uint32_t h264 = makeFourCC('H', '2', '6', '4');
  backend_.formats = {{4, 2, 24, 0, kRgbCapabilityCode}, {8, 4, 0, 1, h264}};
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_EQ(view_.log, (std::vector<std::string>{"4*2  (RGB )", "8*4  (H264)", ""}));
  EXPECT_EQ(backend_.last->selectedFormat, 0) << "the last entry is one we cannot convert";
  monitor_->StopSBClick();

  // Nothing convertible: a blind run would never see an event, so Run fails and says why.
  backend_.formats = {{8, 4, 0, 1, h264}};
  view_.log.clear();
  EXPECT_FALSE(monitor_->RunSBClick());
  EXPECT_FALSE(monitor_->captureObject()->isOpen());
  EXPECT_EQ(view_.log, (std::vector<std::string>{
                           "8*4  (H264)", "", "None of the camera's formats can be converted."}));
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Could not start monitoring!");
}

TEST_F(MonitorTest, RunFailsWhenTheCameraCannotStreamTheChosenFormat) {
  backend_.formatResult = kEFail;  // no USB bandwidth left for it, say
  open();
  EXPECT_FALSE(monitor_->RunSBClick());
  EXPECT_EQ(view_.log.back(), "The camera could not stream 4*2  (RGB ).");
  EXPECT_EQ(backend_.liveDevices, 0);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Could not start monitoring!");

  // An entry the camera does not have, asked for by number or by size.
  backend_.formatResult = kSFalse;
  const struct {
    FormatChoice choice;
    const char* said;
  } cases[] = {
      {{FormatChoice::Kind::index, 1, 0, 0, {}}, "The camera has no format number 1."},
      {{FormatChoice::Kind::size, 0, 8, 4, {}}, "The camera has no format 8x4."},
      {{FormatChoice::Kind::size, 0, 4, 2, fourcc::kYuy2}, "The camera has no format 4x2/YUY2."},
  };
  for (const auto& c : cases) {
    monitor_.reset();
    open(MonitorConfig{c.choice, false});
    EXPECT_FALSE(monitor_->RunSBClick());
    EXPECT_EQ(view_.log.back(), c.said);
    EXPECT_EQ(backend_.liveDevices, 0);
  }
}

// The first frame may arrive during the pump at the end of Run; its lens check ends the run
// there and then.
TEST_F(MonitorTest, AnUncoveredLensSeenWhileRunFinishesLeavesMonitoringStopped) {
  backend_.atFormatSwitch = [this] { loop_.postTask([this] { backend_.last->deliver(200); }); };
  open(MonitorConfig{{}, true});
  EXPECT_FALSE(monitor_->RunSBClick());
  EXPECT_FALSE(monitor_->Running);
  EXPECT_FALSE(view_.monitoring);
  EXPECT_EQ(backend_.liveDevices, 0);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Stick a piece of duct tape over the camera lens!");
}

TEST_F(MonitorTest, AMissingOutputDirectoryIsMadeAtRunAndSaidInTheLog) {
  Settings settings;
  settings.directory = path("gone/events") + "/";
  SaveSettings(path("RVD.ini"), settings);
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_TRUE(fs::is_directory(path("gone/events")));
  EXPECT_EQ(view_.log.back(), "Created the missing output directory " + settings.directory);

  monitor_->StopSBClick();
  write(path("file"), "");
  monitor_->SetOutputDirectory(path("file/events") + "/");
  ASSERT_TRUE(monitor_->RunSBClick()) << "monitoring goes on; the events say the rest";
  EXPECT_EQ(view_.log.back().rfind("The output directory " + path("file/events") +
                                       "/ is missing and cannot be created: ",
                                   0),
            0u)
      << view_.log.back();
}

TEST_F(MonitorTest, CloseGivesBackACameraOpenedByARunNotYetMarkedRunning) {
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  monitor_->Running = false;  // as during the pump inside Run, before the end of it
  monitor_->Close();
  EXPECT_EQ(backend_.liveDevices, 0);
}

TEST_F(MonitorTest, FailedRunSaysSoAndStillResetsTheStatistics) {
  Settings settings;
  settings.cam = 3;  // beyond the two cameras: nothing selected, Run names "#0"
  SaveSettings(path("RVD.ini"), settings);
  open();
  EXPECT_EQ(view_.selected, -1);

  EXPECT_FALSE(monitor_->RunSBClick());
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].kind, MessageKind::error);
  EXPECT_EQ(view_.messages[0].text, "Could not start monitoring!");
  EXPECT_FALSE(monitor_->Running);
  EXPECT_FALSE(view_.monitoring);
  EXPECT_TRUE(monitor_->SPMTimer().isActive());
  EXPECT_EQ(view_.upTime, "0 h");
  EXPECT_EQ(view_.epd, "-");
  ASSERT_EQ(view_.log.size(), 2u) << "why, then an empty format block";
  EXPECT_EQ(view_.log[0].rfind("Could not start monitoring: no camera is selected", 0), 0u);
  EXPECT_EQ(view_.log[1], "");

  backend_.names.clear();
  monitor_->UpdateSBClick();
  EXPECT_EQ(view_.entries, (std::vector<std::string>{"---"}));
  EXPECT_EQ(view_.selected, -1);
  EXPECT_FALSE(view_.listEnabled);
  EXPECT_EQ(monitor_->CameraCount, 0);
}

TEST_F(MonitorTest, FramesAreIgnoredWhileBusyOrBeforeCaptureIsReadyAndCountedAtTheTick) {
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  monitor_->FrameBusy = true;
  deliver(0);
  EXPECT_EQ(monitor_->records().minuteFrames(), 0);
  EXPECT_EQ(view_.frameSize, std::make_pair(0, 0));

  monitor_->FrameBusy = false;
  monitor_->CaptureReady = false;
  deliver(0);
  EXPECT_EQ(monitor_->records().minuteFrames(), 0);
  EXPECT_FALSE(monitor_->FrameBusy);
  monitor_->CaptureReady = true;

  deliver(0);
  EXPECT_EQ(monitor_->records().minuteFrames(), 1);
  EXPECT_EQ(view_.frameSize, std::make_pair(4, 2));
  EXPECT_EQ(view_.thumbnail, std::make_pair(64, 32));
  EXPECT_FALSE(monitor_->LensCheckPending);

  monitor_->SPMTimerTimer();
  EXPECT_EQ(view_.spm, 1);
  EXPECT_EQ(view_.upTime, "0 h");
  ASSERT_EQ(view_.ticks.size(), 1u);
  EXPECT_EQ(view_.ticks[0].framesLastMinute, 1);
  EXPECT_EQ(view_.ticks[0].framesAnalysed, 1u);
  EXPECT_EQ(view_.ticks[0].framesDelivered, 3u);
  EXPECT_EQ(monitor_->records().minuteFrames(), 0);
}

TEST_F(MonitorTest, UncoveredLensStopsOnlyOnTheFirstFrame) {
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(200);
  EXPECT_FALSE(monitor_->Running);
  EXPECT_FALSE(monitor_->captureObject()->isOpen());
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].kind, MessageKind::plain);
  EXPECT_EQ(view_.messages[0].text, "Stick a piece of duct tape over the camera lens!");
  EXPECT_EQ(view_.events, 0) << "no event test after a failed lens check";
  EXPECT_EQ(pictures(), 0);

  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  deliver(200);
  EXPECT_TRUE(monitor_->Running) << "a bright frame later in the run is an event";
  EXPECT_EQ(view_.events, 1);
}

// With the mask the run's first frames only calibrate; then the hot pixel makes no event, a
// hit elsewhere does, and a pixel that keeps being the peak joins the mask.
// Pictures are named after the wall clock, which may stand still or be stepped back: a taken
// name moves on by 1 ms, no picture replaces another, and the log names the file written.
TEST_F(MonitorTest, PicturesNeverReplaceEachOtherWhateverTheClockDoes) {
  const std::int64_t t = 1761355800000;
  const struct {
    const char* clock;
    std::vector<std::int64_t> readings;  // the clock at each event
    std::vector<std::int64_t> named;     // the moment each picture is named after
  } cases[] = {
      {"standing still", {t, t, t, t, t}, {t, t + 1, t + 2, t + 3, t + 4}},
      {"stepped back", {t, t + 1, t + 2, t, t + 1, t + 2}, {t, t + 1, t + 2, t + 3, t + 4, t + 5}},
      {"stepped back 5 s", {t, t + 1000, t - 4000, t + 1000}, {t, t + 1000, t - 4000, t + 1001}},
  };
  setWallClock(testClock);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clock);
    for (const auto& entry : fs::directory_iterator(dir_))
      fs::remove_all(entry.path());
    monitor_.reset();
    view_.reports.clear();
    open();
    view_.options.limit = 100;
    ASSERT_TRUE(monitor_->RunSBClick());
    deliver(0);
    for (const std::int64_t reading : c.readings) {
      testClockMs = reading;
      deliver(200);
    }
    ASSERT_EQ(view_.reports.size(), c.named.size());
    EXPECT_EQ(pictures(), static_cast<int>(c.named.size()));
    for (std::size_t i = 0; i < c.named.size(); ++i) {
      const EventReport& report = view_.reports[i];
      EXPECT_EQ(report.unixMs, c.readings[i]) << "the event keeps its own time";
      EXPECT_EQ(report.file, eventFileName(localTimeAt(c.named[i])));
    }
  }
  setWallClock(nullptr);
}

// A first frame that cannot be converted shows the format notice; the lens check waits for the
// first frame that converts, and only that one can stop monitoring.
TEST_F(MonitorTest, TheLensCheckTakesTheFirstFrameThatConverts) {
  const struct {
    std::uint8_t next;
    bool running;
  } cases[] = {{0, true}, {200, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.next));
    monitor_.reset();
    view_.messages.clear();
    view_.reports.clear();
    open();
    view_.options.limit = 100;
    ASSERT_TRUE(monitor_->RunSBClick());
    loop_.processPending();
    backend_.last->deliverBytes({1, 2, 3, 4, 5});  // a short sample: the notice
    loop_.processPending();
    EXPECT_TRUE(monitor_->Running);
    EXPECT_TRUE(monitor_->LensCheckPending) << "the notice is not the lens's picture";
    EXPECT_TRUE(view_.messages.empty());
    deliver(c.next);
    EXPECT_EQ(monitor_->Running, c.running);
    EXPECT_FALSE(monitor_->LensCheckPending);
    EXPECT_EQ(view_.messages.size(), c.running ? 0u : 1u);
  }
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  deliver(200);
  ASSERT_EQ(view_.reports.size(), 1u);
  EXPECT_EQ(view_.reports[0].lensMean, 0.0) << "measured on the dark frame";
}

// Run makes a missing folder, removes what a killed run left in it and says why no picture can
// be stored where none can.
TEST_F(MonitorTest, RunPreparesTheOutputDirectoryAndSaysWhyItCannotBeUsed) {
  open();
  const std::string leftover = path(".261025023000000.png.2147483000-0.tmp");
  write(leftover, "half a picture");
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_NE(std::find(view_.log.begin(), view_.log.end(),
                      "Removed 1 temporary file that a program which ended left in " + directory_),
            view_.log.end());
  monitor_->StopSBClick();

  write(path("file"), "");
  const struct {
    std::string directory;
    std::string says;
  } cases[] = {
      {path("file") + "/", "The output directory " + path("file") +
                               "/ is not a folder: no picture can be stored there"},
      {path("file/sub") + "/",
       "The output directory " + path("file/sub") + "/ is missing and cannot be created: "},
  };
  for (const auto& c : cases) {
    monitor_->SetOutputDirectory(c.directory);
    const std::optional<std::string> problem = monitor_->prepareOutputDirectory();
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->rfind(c.says, 0), 0u) << *problem;
    ASSERT_TRUE(monitor_->RunSBClick()) << "the windows go on; each event says the rest";
    EXPECT_EQ(view_.log.back(), *problem);
    monitor_->StopSBClick();
  }
}

// What the settings file holds but cannot be used is said at start, in the log.
TEST_F(MonitorTest, OpenSaysWhatOfTheSettingsFileItCannotUse) {
  write(path("RVD.ini"), "[Settings]\nLimit=999\nGray=yes\n");
  open();
  const std::string file = "Settings file " + path("RVD.ini") + ": ";
  EXPECT_EQ(view_.log,
            (std::vector<std::string>{file + "[Settings] Gray=yes is not a number; using 0",
                                      file + "[Settings] Limit=999 is outside 5..255; using 255"}));
  EXPECT_EQ(view_.options.limit, 999) << "the window's control pulls it in";
}

// The status between two ticks, as the summary shows it, has the last whole minute's SPM, as
// the window's label does.
TEST_F(MonitorTest, StatusShowsTheLastWholeMinutesFrames) {
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  monitor_->SPMTimerTimer();
  deliver(0);
  deliver(0);
  EXPECT_EQ(monitor_->status().framesLastMinute, 1);
  EXPECT_EQ(view_.spm, 1);
}

TEST_F(MonitorTest, HotPixelMaskCalibratesThenLeavesHotPixelsOut) {
  open(MonitorConfig{{}, false, true});
  ASSERT_TRUE(monitor_->RunSBClick());
  const auto send = [this](const std::vector<std::pair<int, int>>& lit) { deliverLit(lit); };
  EXPECT_TRUE(logged("Calibrating the hot-pixel mask: the first 90 frames count no events."));
  for (int i = 0; i < HotPixelCalibration::Settings{}.frames; ++i)
    send({{0, 0}});
  ASSERT_TRUE(monitor_->Running);
  EXPECT_EQ(view_.events.value_or(0), 0);
  EXPECT_TRUE(logged("Hot-pixel mask: 1 pixels masked"));

  send({{0, 0}});
  EXPECT_EQ(view_.events.value_or(0), 0);
  send({{0, 0}, {2, 1}});
  EXPECT_EQ(view_.events, 1);
  ASSERT_EQ(view_.reports.size(), 1u);
  EXPECT_EQ(view_.reports[0].peak.x, 2);
  EXPECT_EQ(view_.reports[0].peak.y, 1);

  for (int i = 0; i < 4; ++i)
    send({{0, 0}, {3, 1}});
  EXPECT_EQ(view_.events, 4);
  EXPECT_TRUE(logged("Hot pixel at (3, 1) masked: 2 pixels masked"));

  // The next run of this camera and format starts from the mask kept beside the settings.
  EXPECT_EQ(read(path("RVD-mask-Cam_A-4x2-RGB.txt")), "ravdel hot-pixel mask 4x2\n0 0\n3 1\n");
  monitor_->StopMonitoring();
  view_.log.clear();
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_TRUE(logged("Hot-pixel mask: 2 pixels kept from an earlier run"));
  for (int i = 0; i <= HotPixelCalibration::Settings{}.frames; ++i)
    send({{3, 1}});
  EXPECT_TRUE(logged("Hot-pixel mask: 2 pixels masked"));
  EXPECT_EQ(view_.events, 0);
}

// A fresh account has no settings folder: the mask makes it, as saving the settings does. A
// folder that cannot be made is said once, not at every pixel that joins.
TEST_F(MonitorTest, HotPixelMaskMakesTheSettingsFolderAndSaysAFailureOnce) {
  const struct {
    std::string settings;
    bool kept;
  } cases[] = {{"fresh/.config/RVD.ini", true}, {"file/RVD.ini", false}};
  write(path("file"), "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    monitor_.reset();
    view_.log.clear();
    open(MonitorConfig{{}, false, true}, c.settings);
    ASSERT_TRUE(monitor_->RunSBClick());
    for (int i = 0; i < HotPixelCalibration::Settings{}.frames; ++i)
      deliverLit({{0, 0}});
    for (const int x : {1, 2, 3}) {
      for (int i = 0; i < 4; ++i)
        deliverLit({{x, 1}});
    }
    EXPECT_TRUE(logged("Hot pixel at (3, 1) masked: 4 pixels masked"));
    const std::string mask =
        (fs::path(path(c.settings)).parent_path() / "RVD-mask-Cam_A-4x2-RGB.txt").string();
    EXPECT_EQ(fs::exists(mask), c.kept);
    EXPECT_EQ(
        std::count(view_.log.begin(), view_.log.end(), "Hot-pixel mask: cannot write " + mask),
        c.kept ? 0 : 1);
  }
}

// Light over the whole frame pauses counting and the live time; a hit on a dark frame counts
// again once the guard resumed, and reports its clusters.
TEST_F(MonitorTest, LightLeakGuardPausesCountingAndLiveTimeUntilTheFrameIsDark) {
  MonitorConfig config;
  config.lightLeakGuard = true;
  config.lightLeak = {.level = 100, .holdSeconds = 0, .clearSeconds = 0};
  config.clusterLevel = 60;
  open(config);
  view_.options.limit = 100;
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  const auto logged = [this](const std::string& start) {
    return std::any_of(view_.log.begin(), view_.log.end(),
                       [&](const std::string& line) { return line.starts_with(start); });
  };

  deliver(150);  // mean magnitude 260
  EXPECT_TRUE(logged("Light leak at ")) << "paused";
  EXPECT_EQ(view_.leaks, std::vector<std::string>{"started"});
  const double live = monitor_->status().liveSeconds;
  const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  ASSERT_TRUE(runUntil([&] { return std::chrono::steady_clock::now() > later; }));
  deliver(150);
  EXPECT_EQ(monitor_->status().liveSeconds, live) << "paused time is not live time";
  EXPECT_EQ(view_.events.value_or(0), 0);

  // A lone lit pixel (mean 43) is dark to the guard and an event to the rule.
  std::vector<std::uint8_t> hit(4 * 2 * 3, 0);
  std::fill_n(hit.begin(), 3, std::uint8_t{200});
  loop_.processPending();
  backend_.last->deliverBytes(hit);
  loop_.processPending();
  EXPECT_TRUE(logged("Light leak over at "));
  EXPECT_EQ(view_.leaks, (std::vector<std::string>{"started", "ended"}));
  EXPECT_EQ(view_.events, 1);
  ASSERT_EQ(view_.reports.size(), 1u);
  ASSERT_TRUE(view_.reports[0].clusters.has_value());
  ASSERT_EQ(view_.reports[0].clusters->size(), 1u);
  EXPECT_EQ((*view_.reports[0].clusters)[0].size, 1);
  EXPECT_EQ((*view_.reports[0].clusters)[0].y, 1) << "the bottom row comes first in RGB";
}

TEST_F(MonitorTest, EventIsCountedLoggedStoredAndReported) {
  open();
  view_.options.limit = 100;
  view_.options.sound = true;
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  deliver(101);
  EXPECT_EQ(view_.events, 1);
  EXPECT_EQ(view_.epd, "-");
  EXPECT_EQ(view_.notices, 1);
  EXPECT_EQ(view_.sounds, 1);
  ASSERT_GE(view_.log.size(), 3u);
  EXPECT_EQ(view_.log[view_.log.size() - 2], "R:101 G:101 B:101");
  EXPECT_EQ(pictures(), 1);

  ASSERT_EQ(view_.reports.size(), 1u);
  const EventReport& report = view_.reports[0];
  ASSERT_TRUE(report.file.has_value());
  EXPECT_TRUE(fs::exists(dir_ / *report.file));
  EXPECT_EQ(report.file->size(), 19u);
  EXPECT_EQ(report.limit, 100);
  EXPECT_EQ(report.peak.x, 3) << "equal pixels: the rightmost of the top row";
  EXPECT_EQ(report.peak.y, 0);
  EXPECT_EQ(report.width, 4);
  EXPECT_EQ(report.camera, "Cam A");
  EXPECT_EQ(report.frame, 2);
  ASSERT_TRUE(report.lensMean.has_value());
  EXPECT_EQ(*report.lensMean, 0.0);
  EXPECT_EQ(eventFileName(report.time), *report.file);
  EXPECT_EQ(localTimeAt(report.unixMs).second, report.time.second);
}

// A sink hears of a run before its first event (which may come in Run's own pump) and of its
// end once, whichever way it ends; a removed sink hears nothing more.
TEST_F(MonitorTest, SinksHearARunFromItsStartToItsEndOnce) {
  backend_.atFormatSwitch = [this] { loop_.postTask([this] { backend_.last->deliver(0); }); };
  open();
  view_.options.limit = 100;
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(101);
  monitor_->StopSBClick();
  monitor_->StopSBClick();
  EXPECT_EQ(view_.runs, (std::vector<std::string>{"started Cam A", "stopped"}));
  EXPECT_EQ(view_.reports.size(), 1u);

  backend_.atFormatSwitch = [this] { loop_.postTask([this] { backend_.last->deliver(200); }); };
  view_.runs.clear();
  EXPECT_FALSE(monitor_->RunSBClick()) << "the lens check stops it in Run's pump";
  EXPECT_EQ(view_.runs, (std::vector<std::string>{"started Cam A", "stopped"}));

  backend_.atFormatSwitch = nullptr;
  view_.runs.clear();
  ASSERT_TRUE(monitor_->RunSBClick());
  monitor_->Close();
  EXPECT_EQ(view_.runs, (std::vector<std::string>{"started Cam A", "stopped"}))
      << "the close path ends the run too";

  RecordingView other;
  monitor_.reset();
  open();
  monitor_->addSink(other);
  monitor_->removeSink(view_);
  view_.runs.clear();
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_TRUE(view_.runs.empty());
  EXPECT_EQ(other.runs, (std::vector<std::string>{"started Cam A"}));
  monitor_->StopSBClick();
}

// Coincidences between stations need the moment the camera took the frame, not the moment the
// main thread got to it; an event's key is its run and its place in the run.
TEST_F(MonitorTest, EventsCarryTheirRunTheirPlaceInItAndTheirCaptureInterval) {
  MonitorConfig config;
  config.clockErrorUs = 250000;
  open(config);
  view_.options.limit = 100;
  ASSERT_TRUE(monitor_->RunSBClick());
  constexpr std::int64_t kTaken = 1796718413000000;
  backend_.last->moment = {kTaken, 40000};
  deliver(0);
  deliver(101);
  backend_.last->moment = {kTaken + 80000, 40000};
  deliver(120);
  ASSERT_EQ(view_.reports.size(), 2u);
  const EventReport first = view_.reports[0];  // a copy: the reports grow below
  EXPECT_EQ(first.runId.size(), 16u);
  EXPECT_EQ(first.seq, 1);
  EXPECT_EQ(view_.reports[1].seq, 2);
  EXPECT_EQ(view_.reports[1].runId, first.runId);
  EXPECT_EQ(first.hit.us, kTaken - 20000);
  if (!first.hit.clockSynced) {
    EXPECT_EQ(first.hit.loUs, kTaken - 40000 - 250000) << "the settings' bound";
    EXPECT_EQ(first.hit.hiUs, kTaken + 250000);
  }
  EXPECT_EQ(view_.reports[1].hit.us, kTaken + 60000);

  monitor_->StopSBClick();
  ASSERT_TRUE(monitor_->RunSBClick());
  backend_.last->moment = {};
  deliver(0);
  deliver(130);
  ASSERT_EQ(view_.reports.size(), 3u);
  EXPECT_NE(view_.reports[2].runId, first.runId) << "a new run, a new identity";
  EXPECT_EQ(view_.reports[2].seq, 1);
  // The clock read to the millisecond: the frame may have come within the current one.
  const std::int64_t nowUs = (unixMillisecondsNow() + 1) * 1000;
  EXPECT_LE(view_.reports[2].hit.us, nowUs) << "no time from the camera: when it arrived";
  EXPECT_GT(view_.reports[2].hit.us, nowUs - 60000000);
}

// A folder that cannot be used fails at every event: one box, then only the log, counting,
// until the next Run. Every box used to raise a new one after its OK.
TEST_F(MonitorTest, PicturesThatCannotBeWrittenOpenOneBoxARunAndAreCountedInTheLog) {
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  std::ofstream(path("taken")) << "a file where the folder should be";
  monitor_->SetOutputDirectory(path("taken") + "/sub/");
  deliver(200);
  deliver(200);
  EXPECT_EQ(view_.events, 2) << "an event whose picture fails still counts";
  ASSERT_EQ(view_.failures.size(), 1u);
  EXPECT_EQ(view_.failures[0].rfind("Cannot create file", 0), 0u) << view_.failures[0];
  EXPECT_EQ(view_.log.back().rfind("Cannot create file", 0), 0u) << "the second is logged";
  EXPECT_NE(view_.log.back().find("(2 pictures not written since Run)"), std::string::npos)
      << view_.log.back();
  ASSERT_EQ(view_.reports.size(), 2u);
  EXPECT_FALSE(view_.reports[1].file.has_value());
  EXPECT_EQ(view_.notices, 0) << "no balloon for an event without its picture";
  EXPECT_FALSE(monitor_->FrameBusy);

  view_.closeFailure();
  deliver(200);
  EXPECT_EQ(view_.failures.size(), 1u) << "no second box in this run";
  EXPECT_NE(view_.log.back().find("(3 pictures not written since Run)"), std::string::npos);

  monitor_->StopSBClick();
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  deliver(200);
  EXPECT_EQ(view_.failures.size(), 2u) << "a new Run tells again";
}

// Pictures go into a folder deeper than MAX_PATH (260 characters), made at Run.
TEST_F(MonitorTest, PicturesGoIntoAFolderLongerThanMaxPath) {
  std::string folder = path("deep");
  while (folder.size() < 300)
    folder += "/Ereignisse-eines-langen-Weges";
  open();
  monitor_->SetOutputDirectory(folder + "/");
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  deliver(200);
  EXPECT_TRUE(view_.failures.empty()) << view_.failures.front();
  ASSERT_EQ(view_.reports.size(), 1u);
  ASSERT_TRUE(view_.reports[0].file.has_value());
  EXPECT_TRUE(fs::exists(pathFromUtf8(folder) / *view_.reports[0].file));
}

// A folder deleted while monitoring is made again for the next picture, and the log says so.
TEST_F(MonitorTest, AnOutputFolderThatDisappearsIsMadeAgain) {
  open();
  monitor_->SetOutputDirectory(path("events") + "/");
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_EQ(view_.log.back(), "Created the missing output directory " + path("events") + "/");
  deliver(0);
  fs::remove_all(dir_ / "events");
  deliver(200);
  EXPECT_TRUE(view_.failures.empty());
  EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(),
                       "Created the missing output directory " + path("events") + "/"),
            2);
  ASSERT_EQ(view_.reports.size(), 1u);
  ASSERT_TRUE(view_.reports[0].file.has_value());
  EXPECT_TRUE(fs::exists(dir_ / "events" / *view_.reports[0].file));
}

TEST_F(MonitorTest, SleepPausesTheMinuteTickUntilAfterTheResumeDelay) {
  open();
  ASSERT_TRUE(monitor_->RunSBClick());
  monitor_->ResumeTimer().setInterval(1);  // the real delay is three seconds
  monitor_->Suspend();
  EXPECT_FALSE(monitor_->SPMTimer().isActive());
  monitor_->Resume();
  EXPECT_FALSE(monitor_->SPMTimer().isActive()) << "only after the delay";
  EXPECT_TRUE(runUntil([&] { return monitor_->SPMTimer().isActive(); }));
  EXPECT_TRUE(monitor_->Running) << "capture is left alone";

  monitor_->StopSBClick();
  monitor_->Suspend();
  monitor_->Resume();
  EXPECT_TRUE(runUntil([&] { return !monitor_->ResumeTimer().isActive(); }));
  EXPECT_FALSE(monitor_->SPMTimer().isActive()) << "not monitoring: the tick stays off";
}

TEST_F(MonitorTest, SettingsGoBackToTheFileFromTheViewAndTheMonitor) {
  open();
  view_.options = {75, true, false, true};
  monitor_->CamLstCBChange(1);
  monitor_->SetOutputDirectory("/srv/events/");
  EXPECT_EQ(view_.directory, "/srv/events/");
  monitor_->SaveSetSBClick();
  const Settings saved = LoadSettings(path("RVD.ini"), "elsewhere/");
  EXPECT_EQ(saved, (Settings{true, false, true, 75, "/srv/events/", 1}));
}

TEST_F(MonitorTest, ACameraThatStopsStreamingIsReopenedByNameWithTheCountersKept) {
  open({FormatChoice{}, true});
  view_.options.limit = 100;
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  deliver(200);
  ASSERT_EQ(view_.events, 1);

  backend_.last->SetRunning(false);  // the stream ends, as when the camera is unplugged
  ASSERT_TRUE(runUntil([&] { return monitor_->cameraLost(); }));
  ASSERT_EQ(view_.lost.size(), 1u);
  EXPECT_EQ(view_.lost[0], "Cam A: its stream ended");
  EXPECT_EQ(view_.log.back().rfind("Camera lost at ", 0), 0u) << view_.log.back();
  EXPECT_NE(view_.log.back().find("(its stream ended)"), std::string::npos);
  EXPECT_TRUE(monitor_->Running) << "still monitoring while the camera is away";

  ASSERT_TRUE(runUntil([&] { return !monitor_->cameraLost(); })) << "reopened";
  EXPECT_TRUE(monitor_->captureObject()->isStreaming());
  EXPECT_EQ(monitor_->captureObject()->deviceName(), "Cam A");
  const std::size_t logged = view_.log.size();
  deliver(200);
  ASSERT_EQ(view_.back.size(), 1u) << "back with the first frame, before its event";
  ASSERT_GT(view_.log.size(), logged + 1);
  EXPECT_EQ(view_.log[logged].rfind("Camera back at ", 0), 0u) << view_.log[logged];
  EXPECT_EQ(view_.log[logged + 1].rfind("Event at ", 0), 0u) << view_.log[logged + 1];
  EXPECT_EQ(view_.events, 2) << "the counters go on";
  EXPECT_FALSE(monitor_->LensCheckPending) << "a reopening is no new Run";

  monitor_->StopSBClick();
  EXPECT_FALSE(monitor_->cameraLost());
}

// Stopped while a reopened camera had not sent its first frame: the next Run is a new run, not
// the camera coming back.
TEST_F(MonitorTest, ARunAfterAStopDuringAReopeningIsNoReturn) {
  open({FormatChoice{}, true});
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  backend_.last->SetRunning(false);
  ASSERT_TRUE(runUntil([&] { return monitor_->cameraLost(); }));
  ASSERT_TRUE(runUntil([&] { return !monitor_->cameraLost(); })) << "reopened, no frame yet";
  monitor_->StopSBClick();
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  EXPECT_TRUE(view_.back.empty());
  EXPECT_EQ(std::count_if(view_.log.begin(), view_.log.end(),
                          [](const std::string& line) { return line.starts_with("Camera back"); }),
            0);
}

// A frame that cannot be converted shows the format notice, whose white text is no light
// through the tape: the light-leak guard does not count it.
TEST_F(MonitorTest, TheFormatNoticeIsNoLightLeak) {
  backend_.formats = {{64, 32, 64 * 32 * 3, 0, kRgbCapabilityCode}};
  MonitorConfig config;
  config.lightLeakGuard = true;
  config.lightLeak = {.level = 20, .holdSeconds = 0, .clearSeconds = 0};
  backend_.atFormatSwitch = [this] {
    backend_.last->width = 64;
    backend_.last->height = 32;
  };
  open(config);
  ASSERT_TRUE(monitor_->RunSBClick());
  deliver(0);
  loop_.processPending();
  backend_.last->deliverBytes({1, 2, 3});
  loop_.processPending();
  EXPECT_TRUE(view_.leaks.empty());
}

// Two cameras of one name: the one that dropped out comes back, not the other, and it streams
// the format it had. Reconnection tries never wait for a camera to settle; Run may.
TEST_F(MonitorTest, AReopenedCameraIsTheSameDeviceInTheSameFormat) {
  backend_.names = {"Twin", "Twin"};
  backend_.paths = {"usb-1", "usb-2"};
  backend_.formats = {{2, 2, 12, 0, kRgbCapabilityCode}, {4, 2, 24, 1, kRgbCapabilityCode}};
  open({FormatChoice{}, true});
  monitor_->CamLstCBChange(1);
  ASSERT_TRUE(monitor_->RunSBClick());
  EXPECT_TRUE(backend_.last->patient);
  ASSERT_EQ(backend_.last->selectedFormat, 1);

  backend_.formats = {{4, 2, 24, 0, kRgbCapabilityCode}, {8, 4, 96, 1, kRgbCapabilityCode}};
  backend_.last->SetRunning(false);
  ASSERT_TRUE(runUntil([&] { return monitor_->cameraLost(); }));
  ASSERT_TRUE(runUntil([&] { return !monitor_->cameraLost(); })) << "reopened";
  EXPECT_EQ(backend_.last->openedPosition, 2) << "the same device, found by its path";
  EXPECT_FALSE(backend_.last->patient) << "a reconnection try does not wait";
  EXPECT_EQ(backend_.last->selectedFormat, 0) << "4x2 RGB again, wherever the table has it";
  monitor_->StopSBClick();
}

// A reopened camera that fails before its first frame is a failed try, not a second loss.
TEST_F(MonitorTest, AReopeningThatFailsAfterwardsIsTriedAgainQuietly) {
  open({FormatChoice{}, true});
  ASSERT_TRUE(monitor_->RunSBClick());
  backend_.last->SetRunning(false);
  ASSERT_TRUE(runUntil([&] { return monitor_->cameraLost(); }));
  ASSERT_TRUE(runUntil([&] { return !monitor_->cameraLost(); })) << "reopened";
  backend_.last->SetRunning(false);  // gone again before a frame came
  ASSERT_TRUE(runUntil([&] { return monitor_->cameraLost(); }));
  ASSERT_TRUE(runUntil([&] { return !monitor_->cameraLost(); })) << "tried again";
  deliver(0);
  ASSERT_TRUE(runUntil([&] { return !view_.back.empty(); }));
  EXPECT_EQ(view_.lost.size(), 1u) << "one loss, one return";
  monitor_->StopSBClick();
}

// "Could not start monitoring!" alone told nothing; the log says why.
TEST_F(MonitorTest, RunSaysInTheLogWhyTheCameraDidNotOpen) {
  const struct {
    const char* name;
    std::vector<std::string> cameras;
    const char* savedCam;
    const char* failure;
    const char* logged;
  } cases[] = {
      {"no camera", {}, "0", "", "Could not start monitoring: no camera was found."},
      {"the saved camera is gone",
       {"Cam A"},
       "3",
       "",
       "Could not start monitoring: no camera is selected (the saved camera, number 4, is not in "
       "the list). Choose one."},
      {"the camera refuses",
       {"Cam A"},
       "0",
       "IMediaControl::Run failed with 0x800705AA: busy",
       "Could not open Cam A: IMediaControl::Run failed with 0x800705AA: busy."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    backend_.names = c.cameras;
    backend_.startFailure = c.failure;
    ASSERT_TRUE(writeIniValue(path("RVD.ini"), "Settings", "Cam", c.savedCam));
    view_ = RecordingView();
    open();
    EXPECT_FALSE(monitor_->RunSBClick());
    ASSERT_FALSE(view_.log.empty());
    EXPECT_EQ(view_.log.front(), c.logged);
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.messages[0].text, "Could not start monitoring!");
    monitor_.reset();
  }
}

}  // namespace
}  // namespace ravdel
