#include "capture/capture_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/fourcc.h"
#include "capture/device_catalog.h"
#include "capture/system_cameras.h"
#include "support/environment.h"
#include "support/fake_camera.h"

namespace ravdel {
namespace {

TEST(SelectDeviceTest, NameBeforePositionFirstMatchWins) {
  // Only a to z fold: \xC4 and \xE4 (upper and lower A-umlaut in Latin-1) stay distinct.
  const std::vector<std::string> cams{" USB Camera\n", "#2", "Cam\xC4\xE4", "usb camera"};
  std::vector<std::string> ten(12, "x");
  ten[0] = "#10";
  struct Case {
    const std::vector<std::string>* names;
    const char* text;
    int index;
  };
  const Case cases[] = {
      {&cams, "", 0},
      {&cams, "  \t", 0},
      {&cams, "#1", 0},
      {&cams, "usb CAMERA", 0},
      {&cams, "#2", 1},
      {&cams, "#3", 2},
      {&cams, "cam\xC4\xE4", 2},
      {&cams, "Cam\xE4\xE4", -1},
      {&cams, "CAM\xC4\xE4", 2},
      {&cams, "#0", -1},
      {&cams, "#5", -1},
      {&cams, "nothing", -1},
      {&ten, "#10", 0},  // the tenth device's position loses to a device named "#10"
      {&ten, "#11", 10},
      {&ten, "#12", 11},
      {&ten, "#13", -1},
      {&ten, "#1x", -1},
      {&ten, "#", -1},
      {&ten, "#99999999999", -1},
      {&ten, "#9", 8},
      {&ten, "#1", 0},
      // A leading zero is not a position.
      {&ten, "#01", -1},
      {&ten, "#09", -1},
      {&ten, "#010", -1},
      {&ten, "#00", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(selectDevice(*c.names, c.text), c.index) << c.text;
  std::vector<std::string> tenPlain(12, "x");
  EXPECT_EQ(selectDevice(tenPlain, "#10"), 9) << "cameras past the ninth are reachable";
}

TEST(FormatTableTest, SortedByWidthThenHeightKeepingDeviceOrder) {
  const std::uint32_t yuy2 = fourcc::kYuy2, mjpg = fourcc::kMjpg;
  std::vector<VideoFormat> table{{640, 480, 0, 0, yuy2},
                                 {320, 240, 0, 1, yuy2},
                                 {640, 480, 0, 2, mjpg},
                                 {160, 120, 0, 3, yuy2}};
  sortFormats(table);
  std::vector<std::string> lines;
  for (const VideoFormat& f : table)
    lines.push_back(formatLine(f));
  EXPECT_EQ(lines, (std::vector<std::string>{"160*120  (YUY2)", "320*240  (YUY2)",
                                             "640*480  (YUY2)", "640*480  (MJPG)"}));
  EXPECT_EQ(formatLine({320, 240, 0, 0, kRgbCapabilityCode}), "320*240  (RGB )");
  EXPECT_EQ(formatLine({8, 8, 0, 0, 0x00003241}), "8*8  (A2)");
}

// The highest rate follows the line when the backend knows it; unknown leaves the line as is.
TEST(FormatTableTest, LineShowsTheRateWhenKnown) {
  const struct {
    FrameInterval fastest;
    const char* line;
  } cases[] = {{{1, 30}, "640*480  (YUY2) 30 fps"},
               {{1001, 30000}, "640*480  (YUY2) 29.97 fps"},
               {{2, 15}, "640*480  (YUY2) 7.5 fps"},
               {{3, 1}, "640*480  (YUY2) 0.33 fps"},
               {{1, 1000}, "640*480  (YUY2) 1000 fps"},
               {{0, 30}, "640*480  (YUY2)"},
               {{1, 0}, "640*480  (YUY2)"}};
  for (const auto& c : cases)
    EXPECT_EQ(formatLine({640, 480, 0, 0, fourcc::kYuy2, c.fastest}), c.line);
}

// Positions count across backends: the simulated camera follows the real ones.
std::vector<std::string> loggedLines;
void keepLine(const std::string& text) {
  loggedLines.push_back(text);
}

// The backends' lines go to the program's writer, which gives them its prefix and time.
TEST(CaptureLogTest, BackendLinesGoToTheInstalledWriter) {
  setCaptureLogWriter(keepLine);
  struct Ignoring final : FrameReceiver {
    void receiveFrame(const std::uint8_t*, std::int32_t&, const FrameMoment&) override {}
  } receiver;
  ReceiverSlot listedOnly, streamed;
  logStreamStopped("Cam B", listedOnly, 0, 0);  // opened to list its formats: no line
  streamed.install(&receiver);
  logStreamStopped("Cam A", streamed, 12, 10);
  setCaptureLogWriter(nullptr);
  EXPECT_EQ(loggedLines,
            std::vector<std::string>{"Cam A: stream stopped after 12 frames, 10 delivered"});
}

TEST(DeviceCatalogTest, OpensAcrossBackendsByPositionAndName) {
  DeviceCatalog catalog;
  auto first = std::make_unique<test::FakeBackend>();
  auto second = std::make_unique<test::FakeBackend>();
  second->names = {"Simulated"};
  test::FakeBackend* simulated = second.get();
  catalog.add(std::move(first));
  catalog.add(std::move(second));

  std::vector<std::string> names;
  EXPECT_EQ(catalog.ListVideoDevices(names), kSOk);
  EXPECT_EQ(names, (std::vector<std::string>{"Cam A", "Cam B", "Simulated"}));
  for (const char* text : {"#3", "simulated"}) {
    auto device = catalog.CreateDevice();
    std::string found;
    EXPECT_EQ(device->StartVideo(text, found), kSOk) << text;
    EXPECT_EQ(found, "Simulated");
    EXPECT_TRUE(device->running());
    EXPECT_NE(simulated->last, nullptr);
  }
  auto device = catalog.CreateDevice();
  std::string found = "stale";
  EXPECT_EQ(device->StartVideo("#4", found), kEFail);
  EXPECT_EQ(found, "");
  EXPECT_EQ(device->SetFormatByIndex(0), kSFalse);

  DeviceCatalog none;
  EXPECT_EQ(none.ListVideoDevices(names), kSFalse);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(none.CreateDevice()->StartVideo("", found), kEFail);
}

// A camera reopened after it dropped out must be the same device, not another of its name: it
// is found by its path, and by its name only once no device has that path.
TEST(DeviceCatalogTest, AReopenedCameraIsFoundByItsPathThenByItsName) {
  DeviceCatalog catalog;
  auto plain = std::make_unique<test::FakeBackend>();
  plain->names = {"No Path"};
  auto twins = std::make_unique<test::FakeBackend>();
  twins->names = {"Twin", "Twin"};
  twins->paths = {"usb-1", "usb-2"};
  test::FakeBackend* opened = twins.get();
  catalog.add(std::move(plain));
  catalog.add(std::move(twins));

  std::vector<std::string> paths;
  EXPECT_EQ(catalog.ListDevicePaths(paths), kSOk);
  EXPECT_EQ(paths, (std::vector<std::string>{"", "usb-1", "usb-2"}));
  const struct {
    const char* path;
    const char* name;
    std::int32_t position;  // within the twins' backend; 0: not opened there
  } cases[] = {{"usb-2", "Twin", 2},
               {"usb-1", "Twin", 1},
               {"usb-9", "Twin", 1},
               {"", "Twin", 1},
               {"usb-9", "nobody", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.name);
    opened->last = nullptr;
    auto device = catalog.CreateDevice();
    std::string found;
    const HResult hr = device->StartVideoByPath(c.path, c.name, found);
    if (c.position == 0) {
      EXPECT_EQ(hr, kEFail);
      continue;
    }
    ASSERT_EQ(hr, kSOk);
    ASSERT_NE(opened->last, nullptr);
    EXPECT_EQ(opened->last->openedPosition, c.position);
    EXPECT_EQ(device->devicePath(), "usb-" + std::to_string(c.position));
  }
}

// The simulated camera joins the list after the real ones only when it is described, and a
// description that cannot be read is reported rather than ignored.
TEST(DeviceCatalogTest, SimulatedCameraFromTheEnvironment) {
  struct Case {
    const char* value;  // nullptr: unset
    bool listed;
    bool warned;
  };
  const Case cases[] = {{nullptr, false, false},
                        {"synthetic:name=Bench cam,fps=5", true, false},
                        {"synthetic:fps=fast", false, true}};
  for (const Case& c : cases) {
    if (c.value == nullptr) {
      test::unsetEnvironment("RAVDEL_SIMULATED_CAMERA");
    } else {
      test::setEnvironment("RAVDEL_SIMULATED_CAMERA", c.value);
    }
    std::string warning;
    const auto catalog = makeSystemCatalog(warning);
    std::vector<std::string> names;
    catalog->ListVideoDevices(names);
    EXPECT_EQ(!names.empty() && names.back() == "Bench cam", c.listed)
        << (c.value ? c.value : "unset");
    EXPECT_EQ(!warning.empty(), c.warned) << warning;
  }
  test::unsetEnvironment("RAVDEL_SIMULATED_CAMERA");
}

}  // namespace
}  // namespace ravdel
