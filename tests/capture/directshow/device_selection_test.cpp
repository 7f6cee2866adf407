#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/directshow/device_enumeration.h"
#include "capture/directshow/directshow_backend.h"
#include "capture/directshow/video_sample.h"
#include "capture/system_cameras.h"
#include "support/environment.h"
#include "test_camera.h"

namespace ravdel {
namespace {

using test::DirectShowTest;
using testcam::kNamesUtf8;

class DeviceSelectionTest : public DirectShowTest {};

TEST_F(DeviceSelectionTest, TheSystemDeviceEnumeratorListsTheRegisteredCamerasInOrder) {
  std::vector<std::string> names{"stale"};
  EXPECT_EQ(dshow::ListVideoDevices(names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{kNamesUtf8[0], kNamesUtf8[1]}))
      << "the friendly names as read, in UTF-8";

  DirectShowBackend backend;
  std::vector<std::string> again;
  EXPECT_EQ(backend.ListVideoDevices(again), S_OK);
  EXPECT_EQ(again, names) << "the same order on every call";
}

// SelectDevice through StartVideo: the name test first, then "#n".
TEST_F(DeviceSelectionTest, ADeviceIsOpenedByItsNameOrItsPosition) {
  const struct {
    const char* text;
    int device;  // -1: none
  } cases[] = {
      {"", 0},
      {"  \t", 0},
      {"#1", 0},
      {"#2", 1},
      {"Ravdel Test Camera", 0},
      {" ravdel TEST camera\t", 0},
      {"ravdel test cam\xc3\xa9ra rgb", 1},   // a to z folded, é as it is
      {"RAVDEL TEST CAM\xc3\x89RA RGB", -1},  // É is not é: only a to z fold
      {"#3", -1},
      {"#0", -1},
      {"#01", -1},
      {"Ravdel Test", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    HResult setup = E_FAIL;
    TVideoSample sample(nullptr, false, 0, setup);
    ASSERT_EQ(setup, S_OK);
    std::string found = "stale";
    const HResult hr = sample.StartVideo(c.text, false, found);
    if (c.device < 0) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_EQ(found, "");
      EXPECT_FALSE(sample.running());
      std::vector<std::string> lines{"stale"};
      sample.ListFormats(lines);
      EXPECT_TRUE(lines.empty()) << "no format list after a failed start";
    } else {
      EXPECT_TRUE(test::succeeded(hr));
      EXPECT_EQ(found, kNamesUtf8[c.device]);
      EXPECT_TRUE(sample.running());
    }
  }
}

TEST_F(DeviceSelectionTest, ThePositionOfTheBackendListOpensThatDevice) {
  DirectShowBackend backend;
  auto device = backend.CreateDevice();
  std::string found;
  EXPECT_TRUE(test::succeeded(device->StartVideoAt(2, found)));
  EXPECT_EQ(found, kNamesUtf8[1]);
  EXPECT_TRUE(device->running());

  auto byName = backend.CreateDevice();
  EXPECT_TRUE(test::succeeded(byName->StartVideo("RAVDEL TEST CAMERA", found)))
      << "the contract's StartVideo";
  EXPECT_EQ(found, kNamesUtf8[0]);
  auto none = backend.CreateDevice();
  EXPECT_EQ(none->StartVideoAt(3, found), E_FAIL);
}

TEST_F(DeviceSelectionTest, AnObjectStartsOnce) {
  HResult setup = E_FAIL;
  TVideoSample sample(nullptr, false, 0, setup);
  std::string found;
  ASSERT_TRUE(test::succeeded(sample.StartVideo("#1", false, found)));
  EXPECT_EQ(sample.StartVideo("#2", false, found), E_FAIL);
}

// What ravdel-monitor and the window list: the DirectShow cameras, then the simulated camera
// when RAVDEL_SIMULATED_CAMERA describes one, as on Linux.
TEST_F(DeviceSelectionTest, TheSimulatedCameraFollowsTheDirectShowCameras) {
  test::setEnvironment("RAVDEL_SIMULATED_CAMERA", "synthetic:format=YUY2,size=320x240");
  std::string warning;
  const std::unique_ptr<DeviceCatalog> catalog = makeSystemCatalog(warning);
  test::unsetEnvironment("RAVDEL_SIMULATED_CAMERA");
  EXPECT_EQ(warning, "");
  std::vector<std::string> names;
  EXPECT_EQ(catalog->ListVideoDevices(names), S_OK);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], kNamesUtf8[0]);
  EXPECT_EQ(names[1], kNamesUtf8[1]);

  auto simulated = catalog->CreateDevice();
  std::string found;
  EXPECT_TRUE(test::succeeded(simulated->StartVideo("#3", found)));
  EXPECT_EQ(found, names[2]);
  EXPECT_TRUE(simulated->running());
  auto camera = catalog->CreateDevice();
  EXPECT_TRUE(test::succeeded(camera->StartVideo("#1", found)));
  EXPECT_EQ(found, kNamesUtf8[0]);
}

}  // namespace
}  // namespace ravdel
