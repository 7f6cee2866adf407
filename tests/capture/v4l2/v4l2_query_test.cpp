#include "capture/v4l2/v4l2_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/fourcc.h"
#include "v4l2_test_camera.h"

namespace ravdel {
namespace {

constexpr std::uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;

std::shared_ptr<FakeV4l2Io> makeNodes() {
  auto fake = std::make_shared<FakeV4l2Io>();
  fake->addNode("video10", "Cam Ten", kCapture);
  fake->addNode("video2", "  Cam Two  ", kCapture);
  fake->addNode("video3", "Cam Two", V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
  fake->addNode("video1", "Old Cam", kCapture, false);
  fake->addNode("video4", "Read Only", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE);
  fake->addNode("videoX", "Not A Node", kCapture);
  fake->addNode("vbi0", "Teletext", kCapture);
  fake->addNode("video5", "ISP Cam", V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_STREAMING);
  fake->addNode("video6", "Both APIs", kCapture | V4L2_CAP_VIDEO_CAPTURE_MPLANE);
  fake->addNode("video7", "ISP Read Only", V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_READWRITE);
  return fake;
}

// A node with only the multi-planar API (a laptop camera behind an ISP) is a camera too; one
// with both APIs is used through the single-plane one.
TEST(V4l2QueryTest, ListsStreamingCaptureNodesInNumericOrder) {
  auto fake = makeNodes();
  std::vector<std::string> names{"stale"};
  EXPECT_EQ(V4l2Backend(fake).ListVideoDevices(names), kSOk);
  EXPECT_EQ(names, (std::vector<std::string>{"Old Cam", "  Cam Two  ", "ISP Cam", "Both APIs",
                                             "Cam Ten"}));
  EXPECT_EQ(fake->openCount(), 0);
  const std::vector<V4l2Node> nodes = findCaptureNodes(*fake, "/dev");
  ASSERT_EQ(nodes.size(), 5u);
  EXPECT_EQ(nodes[2].bufferType, V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE);
  EXPECT_EQ(nodes[3].bufferType, V4L2_BUF_TYPE_VIDEO_CAPTURE);

  EXPECT_EQ(V4l2Backend(std::make_shared<FakeV4l2Io>()).ListVideoDevices(names), kSFalse);
  EXPECT_TRUE(names.empty());
}

TEST(V4l2QueryTest, StartFindsTheNodeByNameOrPosition) {
  const struct {
    const char* text;
    HResult result;
    const char* found;
  } cases[] = {{"", kSOk, "Old Cam"},   {"#2", kSOk, "Cam Two"}, {" cam ten ", kSOk, "Cam Ten"},
               {"#3", kSOk, "ISP Cam"}, {"#6", kEFail, ""},      {"Teletext", kEFail, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto fake = makeNodes();
    auto device = V4l2Backend(fake).CreateDevice();
    std::string found = "stale";
    EXPECT_EQ(device->StartVideo(c.text, found), c.result);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(device->running(), c.result == kSOk);
    EXPECT_EQ(fake->openCount(), c.result == kSOk ? 1 : 0);
  }
}

// Two cameras of one name are told apart by their bus_info, and the further capture nodes of
// one device by their order; a reopening finds the node it had.
TEST(V4l2QueryTest, TwoCamerasOfOneNameAreToldApartByTheirBus) {
  auto fake = std::make_shared<FakeV4l2Io>();
  fake->addNode("video0", "Twin", kCapture);
  fake->addNode("video2", "Twin", kCapture);
  fake->addNode("video4", "Twin", kCapture);
  fake->setBusInfo("video0", "usb-0000:00:14.0-1");
  fake->setBusInfo("video2", "usb-0000:00:14.0-2");
  fake->setBusInfo("video4", "usb-0000:00:14.0-2");
  V4l2Backend backend(fake);
  std::vector<std::string> paths;
  EXPECT_EQ(backend.ListDevicePaths(paths), kSOk);
  EXPECT_EQ(paths, (std::vector<std::string>{"usb-0000:00:14.0-1", "usb-0000:00:14.0-2",
                                             "usb-0000:00:14.0-2#2"}));
  for (const std::string& path : paths) {
    auto device = backend.CreateDevice();
    std::string found;
    ASSERT_EQ(device->StartVideoByPath(path, "Twin", found), kSOk) << path;
    EXPECT_EQ(device->devicePath(), path);
  }
}

// A start failing part-way reports the failing call's errno and leaves nothing open or mapped.
TEST(V4l2QueryTest, FailedStartLeavesNothingBehind) {
  const struct {
    unsigned long request;
    int error;
  } cases[] = {{VIDIOC_REQBUFS, ENOMEM}, {FakeV4l2Io::kMmap, ENOMEM}, {VIDIOC_STREAMON, EIO}};
  for (const auto& c : cases) {
    auto fake = makeCamera();
    auto device = V4l2Backend(fake).CreateDevice();
    fake->failNext(c.request, c.error);
    std::string found;
    EXPECT_EQ(device->StartVideo("", found), hresultFromErrno(c.error));
    EXPECT_EQ(found, "Test Cam");
    // What the window's log says about it: the failing step and the system's words.
    EXPECT_NE(device->failure().find(std::strerror(c.error)), std::string::npos)
        << device->failure();
    EXPECT_FALSE(device->running());
    EXPECT_TRUE(device->formats().empty());
    EXPECT_EQ(fake->openCount(), 0);
    EXPECT_EQ(fake->mappedCount(), 0);
  }
}

TEST(V4l2QueryTest, FormatTableIsSortedWithTheConvertersCodes) {
  auto fake = makeCamera(V4L2_PIX_FMT_MJPEG, {640, 480});
  fake->addFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}, {160, 120}});
  fake->addFormat(V4L2_PIX_FMT_BGR24, {{320, 240}});
  fake->addFormat(V4L2_PIX_FMT_JPEG, {{800, 600}});
  fake->addFormat(V4L2_PIX_FMT_YUV420, {{352, 288}});
  fake->addFormat(V4L2_PIX_FMT_NV12, {{176, 144}});
  fake->addFormat(V4L2_PIX_FMT_NV21, {{176, 144}});
  fake->addFormat(V4L2_PIX_FMT_UYVY, {{320, 240}});
  fake->addFormat(V4L2_PIX_FMT_GREY, {{160, 120}});
  fake->addFormat(V4L2_PIX_FMT_H264, {{1280, 720}});
  fake->addRange(V4L2_PIX_FMT_YVU420, {32, 24}, {1280, 720});
  const auto device = startCamera(fake);

  const std::vector<std::pair<std::string, std::int32_t>> expected = {
      {"32*24  (YV12)", 32 * 24 * 3 / 2},
      {"160*120  (YUYV)", 160 * 120 * 2},
      {"160*120  (GREY)", 160 * 120},
      {"176*144  (NV12)", 176 * 144 * 3 / 2},
      {"176*144  (NV21)", 176 * 144 * 3 / 2},
      {"320*240  (YUYV)", 320 * 240 * 2},
      {"320*240  (RGB )", 320 * 240 * 3},
      {"320*240  (UYVY)", 320 * 240 * 2},
      {"352*288  (I420)", 352 * 288 * 3 / 2},
      {"640*480  (MJPG)", 0},
      {"640*480  (YUYV)", 640 * 480 * 2},
      {"800*600  (MJPG)", 0},
      {"1280*720  (H264)", 0},
      {"1280*720  (YV12)", 1280 * 720 * 3 / 2}};
  std::vector<std::string> lines;
  device->ListFormats(lines);
  ASSERT_EQ(lines.size(), expected.size());
  std::vector<bool> seen(expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i], expected[i].first);
    EXPECT_EQ(device->formats()[i].sampleSize, expected[i].second) << lines[i];
    const auto caps = static_cast<std::size_t>(device->formats()[i].capsIndex);
    ASSERT_LT(caps, seen.size());
    EXPECT_FALSE(seen[caps]) << "capsIndex used twice";
    seen[caps] = true;
  }
}

// Each entry's line carries the highest rate the camera offers at its size, when it says.
TEST(V4l2QueryTest, FormatLinesShowTheHighestRateOfEachSize) {
  auto fake = makeCamera(V4L2_PIX_FMT_MJPEG, {320, 240});
  fake->addFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {1280, 720}, {1920, 1080}});
  fake->addRange(V4L2_PIX_FMT_NV12, {64, 48}, {1024, 768});
  fake->setIntervals(V4L2_PIX_FMT_YUYV, {640, 480}, {{1, 15}, {1, 30}, {1, 5}});
  fake->setIntervals(V4L2_PIX_FMT_YUYV, {1280, 720}, {{1, 10}, {1001, 30000}});
  fake->setIntervals(V4L2_PIX_FMT_YUYV, {1920, 1080}, {{2, 15}, {1, 5}});
  fake->setIntervals(V4L2_PIX_FMT_NV12, {1024, 768}, {{1, 60}, {1, 1}}, true);
  const auto device = startCamera(fake);
  std::vector<std::string> lines;
  device->ListFormats(lines);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"64*48  (NV12)", "320*240  (MJPG)", "640*480  (YUYV) 30 fps",
                                      "1024*768  (NV12) 60 fps", "1280*720  (YUYV) 29.97 fps",
                                      "1920*1080  (YUYV) 7.5 fps"}));
}

// Formats whose planes lie in separate memory do not stream here and stay out of the table.
TEST(V4l2QueryTest, MultiPlanarNodeListsItsSinglePlaneFormats) {
  auto fake = makeCamera(V4L2_PIX_FMT_NV12, {640, 480}, 0, V4L2_CAP_VIDEO_CAPTURE_MPLANE);
  fake->addFormat(V4L2_PIX_FMT_NV12M, {{640, 480}}, 2);
  fake->addFormat(V4L2_PIX_FMT_YUYV, {{320, 240}});
  const auto device = startCamera(fake);
  std::vector<std::string> lines;
  device->ListFormats(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"320*240  (YUYV)", "640*480  (NV12)"}));
}

// Heights and widths come as unsigned; one that does not fit is never reported negative.
TEST(V4l2QueryTest, StreamInfoReportsPositiveSizesAndTheStreamCode) {
  const struct {
    std::uint32_t pixelFormat, width, height;
    HResult result;
    std::int32_t w, h;
    std::uint32_t code;
  } cases[] = {{V4L2_PIX_FMT_YUYV, 640, 480, kSOk, 640, 480, fourcc::kYuyv},
               {V4L2_PIX_FMT_BGR24, 320, 240, kSOk, 320, 240, fourcc::kRgb},
               {V4L2_PIX_FMT_JPEG, 800, 600, kSOk, 800, 600, fourcc::kMjpg},
               {V4L2_PIX_FMT_YUYV, 640, 0xfffffe20u, kEFail, 0, 0, 1234},
               {V4L2_PIX_FMT_YUYV, 0x80000000u, 480, kEFail, 0, 0, 1234}};
  for (const auto& c : cases) {
    auto fake = makeCamera(c.pixelFormat, {16, 16});
    const auto device = startCamera(fake);
    fake->setCurrent(c.pixelFormat, {c.width, c.height});
    std::int32_t w = -1, h = -1;
    std::uint32_t code = 1234;
    EXPECT_EQ(device->GetStreamInfo(w, h, code), c.result);
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(code, c.code);
  }
  std::int32_t w = -1, h = -1;
  std::uint32_t code = 0;
  EXPECT_TRUE(failed(V4l2Backend(makeCamera()).CreateDevice()->GetStreamInfo(w, h, code)));
  EXPECT_EQ(w + h, 0);
}

// The packer sees V4L2's formats by the converter's codes; BGR24 is RGB with its top row first.
TEST(V4l2QueryTest, FrameLayoutsUseTheConvertersCodes) {
  const struct {
    std::uint32_t pixelFormat;
    std::uint32_t code;
    bool topDown;
  } cases[] = {{V4L2_PIX_FMT_BGR24, fourcc::kRgb, true},
               {V4L2_PIX_FMT_YUYV, fourcc::kYuyv, false},
               {V4L2_PIX_FMT_YUV420, fourcc::kI420, false},
               {V4L2_PIX_FMT_JPEG, fourcc::kMjpg, false}};
  for (const auto& c : cases) {
    const FrameLayout layout = frameLayoutOf({c.pixelFormat, 6, 4, 32, 1});
    EXPECT_EQ(layout.code, c.code) << c.pixelFormat;
    EXPECT_EQ(layout.topDown, c.topDown) << c.pixelFormat;
    EXPECT_EQ(layout.stride, 32u);
    EXPECT_EQ(layout.width, 6u);
  }
}

}  // namespace
}  // namespace ravdel
