#include "capture/simulated/simulated_camera.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "capture/simulated/directory_source.h"
#include "capture/simulated/synthetic_source.h"
#include "convert/frame_converter.h"
#include "detection/frame_analysis.h"
#include "platform/files.h"
#include "support/jpeg_encode.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Keeps copies of the first `keep` frames; counts all. Called on the camera's worker thread.
class Recorder final : public FrameReceiver {
 public:
  explicit Recorder(std::size_t keep = 64) : keep_(keep) {}

  void receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                    const FrameMoment&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    if (frames_.size() < keep_) frames_.emplace_back(data, data + byteCount);
    arrived_.notify_all();
  }
  bool waitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, 20s, [&] { return frames_.size() >= count; });
  }
  std::vector<Bytes> frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
  }
  std::uint64_t calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  const std::size_t keep_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Bytes> frames_;  // guarded by mutex_
  std::uint64_t calls_ = 0;    // guarded by mutex_
};

std::unique_ptr<SimulatedDevice> openCamera(const std::string& text, FrameReceiver& receiver) {
  std::string error;
  const auto backend = SimulatedBackend::fromDescription(text, error);
  if (backend == nullptr) {
    ADD_FAILURE() << text << ": " << error;
    return nullptr;
  }
  auto device = backend->createSimulatedDevice();
  device->SetFrameCallback(&receiver);
  std::string found;
  EXPECT_EQ(device->StartVideo("", found), kSOk) << text;
  return device;
}

bool waitUntilStopped(const CaptureDevice& device) {
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (device.running() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  return !device.running();
}

// The converted picture of a sample in the device's current format.
FrameBitmap convert(SimulatedDevice& device, const Bytes& sample,
                    ConvertOutcome expected = ConvertOutcome::Converted) {
  std::int32_t w = 0;
  std::int32_t h = 0;
  std::uint32_t code = 0;
  EXPECT_EQ(device.GetStreamInfo(w, h, code), kSOk);
  FrameBitmap picture(w, h);
  picture.fill(0, 0, 0);
  FrameConverter converter;
  EXPECT_EQ(converter.ConvertFrame(code, static_cast<std::int32_t>(sample.size()), sample.data(),
                                   picture),
            expected);
  return picture;
}

int peakChannel(const FrameBitmap& picture) {
  const PeakPixel p = findPeak(picture);
  return std::max({p.r, p.g, p.b});
}

// The peak's weakest channel: a hit is white, not the colour of a stray chroma byte.
int peakWhiteness(const FrameBitmap& picture) {
  const PeakPixel p = findPeak(picture);
  return std::min({p.r, p.g, p.b});
}

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("ravdel-simcam-" + std::to_string(std::random_device()()) + "-" +
             std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  void write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(path_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST(SimulatedCameraTest, OpensOnlyItsOneDevice) {
  std::string error;
  const auto backend = SimulatedBackend::fromDescription("synthetic,name= Bench cam ", error);
  ASSERT_NE(backend, nullptr) << error;
  std::vector<std::string> names;
  EXPECT_EQ(backend->ListVideoDevices(names), kSOk);
  EXPECT_EQ(names, std::vector<std::string>{"Bench cam"});

  const auto device = backend->CreateDevice();
  std::int32_t w = 1, h = 1;
  std::uint32_t code = 7;
  EXPECT_EQ(device->GetStreamInfo(w, h, code), kEFail);
  EXPECT_EQ(w + h, 0);
  std::string found;
  EXPECT_EQ(device->StartVideo("#2", found), kEFail);
  EXPECT_EQ(device->SetRunning(true), kEFail);
  EXPECT_EQ(device->StartVideo("bench CAM", found), kSOk);
  EXPECT_EQ(found, "Bench cam");
  EXPECT_TRUE(device->running());
  EXPECT_EQ(device->StartVideo("#1", found), kEFail);  // one start per object
}

// In every synthetic format: a dark sensor, white hits, and a lit scene for an open lens.
TEST(SimulatedCameraTest, SyntheticFramesConvertToDarkHitOrLitPictures) {
  const struct {
    const char* options;
    int minPeak, maxPeak;  // minPeak: of the peak's every channel
    double minMean, maxMean;
  } kinds[] = {
      {"hits=0", 0, 39, 0.0, 10.0},
      {"hits=400", 201, 255, 0.0, 20.0},
      {"hits=0,uncovered", 0, 255, 2 * kUncoveredLensMean, 1000.0},
  };
  for (const char* format : {"YUY2", "UYVY", "I420", "NV12", "NV21", "GREY", "RGB"}) {
    for (const auto& kind : kinds) {
      const std::string text =
          std::string("synthetic:size=96x64,fps=0,seed=7,format=") + format + "," + kind.options;
      SCOPED_TRACE(text);
      Recorder recorder(4);
      const auto device = openCamera(text, recorder);
      ASSERT_NE(device, nullptr);
      ASSERT_TRUE(recorder.waitFor(4));
      device->SetRunning(false);
      std::int32_t w = 0, h = 0;
      std::uint32_t code = 0;
      device->GetStreamInfo(w, h, code);
      for (const Bytes& frame : recorder.frames()) {
        EXPECT_EQ(static_cast<std::int64_t>(frame.size()), requiredSampleBytes(code, w, h));
        const FrameBitmap picture = convert(*device, frame);
        EXPECT_GE(peakWhiteness(picture), kind.minPeak);
        EXPECT_LE(peakChannel(picture), kind.maxPeak);
        EXPECT_GE(meanMagnitude(picture), kind.minMean);
        EXPECT_LT(meanMagnitude(picture), kind.maxMean);
      }
    }
  }
}

// A noise frame gets its hits taken out after it was shown, so it comes back clean.
TEST(SimulatedCameraTest, HitsAreTakenOutAfterTheirFrame) {
  SyntheticSource::Settings settings;
  settings.seed = 3;
  SyntheticSource clean(settings);
  settings.hitsPerFrame = 0.7;
  SyntheticSource hit(settings);
  const StreamFormat format{fourcc::kYuy2, 40, 30};
  clean.start(format);
  hit.start(format);
  bool hadHits[SyntheticSource::kNoiseFrames] = {};
  int cleanAfterHits = 0;
  for (std::size_t i = 0; i < 60; ++i) {
    std::span<const std::uint8_t> a, b;
    ASSERT_TRUE(clean.next(a, {}) && hit.next(b, {}));
    ASSERT_EQ(a.size(), b.size());
    int changed = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      if (a[k] == b[k]) continue;
      ++changed;
      EXPECT_GE(b[k], settings.brightness / 2);
    }
    EXPECT_LE(changed, 5 * SyntheticSource::kMaxHitsPerFrame);
    bool& slot = hadHits[i % SyntheticSource::kNoiseFrames];
    if (changed == 0 && slot) ++cleanAfterHits;
    slot = slot || changed != 0;
  }
  EXPECT_GT(cleanAfterHits, 3);
}

TEST(SimulatedCameraTest, SameDescriptionGivesTheSameBytes) {
  const std::string text = "synthetic:size=64x32,fps=0,hits=200,seed=";
  Recorder a(5), b(5), c(5);
  {
    const auto da = openCamera(text + "5", a);
    const auto db = openCamera(text + "5", b);
    const auto dc = openCamera(text + "6", c);
    ASSERT_TRUE(a.waitFor(5) && b.waitFor(5) && c.waitFor(5));
  }
  EXPECT_EQ(a.frames(), b.frames());
  EXPECT_NE(a.frames(), c.frames());
}

TEST(SimulatedCameraTest, FormatSwitchChangesFramesAndStreamInfo) {
  Recorder recorder(2);
  const auto device = openCamera("synthetic:size=160x120,fps=0,hits=0", recorder);
  ASSERT_NE(device, nullptr);
  const std::vector<VideoFormat>& table = device->formats();
  ASSERT_EQ(table.size(), 4u);
  std::vector<std::string> lines;
  device->ListFormats(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"160*120  (YUY2)", "320*240  (RGB )",
                                             "640*480  (I420)", "1280*720  (YUY2)"}));
  for (std::int32_t index : {1, 2, 3, 0}) {
    SCOPED_TRACE(index);
    ASSERT_EQ(device->SetFormatByIndex(index), kSOk);
    recorder.clear();
    ASSERT_TRUE(recorder.waitFor(2));
    const VideoFormat& f = table[static_cast<std::size_t>(index)];
    std::int32_t w = 0, h = 0;
    std::uint32_t code = 99;
    ASSERT_EQ(device->GetStreamInfo(w, h, code), kSOk);
    EXPECT_EQ(w, f.width);
    EXPECT_EQ(h, f.height);
    EXPECT_EQ(code, f.fourcc == kRgbCapabilityCode ? fourcc::kRgb : f.fourcc);
    for (const Bytes& frame : recorder.frames()) {
      EXPECT_EQ(static_cast<std::int64_t>(frame.size()), f.sampleSize);
      convert(*device, frame);
    }
  }
  EXPECT_EQ(device->SetFormatByIndex(4), kSFalse);
  EXPECT_TRUE(device->running());
}

TEST(SimulatedCameraTest, DirectoryFilesComeInNameOrderOnceOrLooping) {
  TempDir dir;
  dir.write("b.raw", Bytes(16, 0xbb));
  dir.write("a.raw", Bytes(16, 0xaa));
  dir.write("c.raw", Bytes(15, 0xcc));  // one byte short: the program shows its notice
  dir.write(".hidden", Bytes(16, 0x11));
  std::filesystem::create_directory(std::filesystem::path(dir.path()) / "sub");
  const std::string base = "dir:" + dir.path() + ",format=YUY2,size=4x2,fps=0";

  Recorder once(8);
  const auto device = openCamera(base + ",once", once);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(waitUntilStopped(*device));
  std::vector<Bytes> frames = once.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], Bytes(16, 0xaa));
  EXPECT_EQ(frames[1], Bytes(16, 0xbb));
  EXPECT_EQ(frames[2], Bytes(15, 0xcc));
  convert(*device, frames[2], ConvertOutcome::Notice);
  EXPECT_EQ(device->SetRunning(true), kSOk);  // an ended directory plays again
  ASSERT_TRUE(waitUntilStopped(*device));
  EXPECT_EQ(once.calls(), 6u);

  Recorder looping(7);
  const auto loopDevice = openCamera(base, looping);
  ASSERT_NE(loopDevice, nullptr);
  ASSERT_TRUE(looping.waitFor(7));
  frames = looping.frames();
  for (std::size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].front(), (Bytes{0xaa, 0xbb, 0xcc})[i % 3]) << i;
}

TEST(SimulatedCameraTest, JpegDirectoryTakesFormatAndSizeFromTheFirstPicture) {
  TempDir dir;
  FrameBitmap picture(24, 16);
  picture.fill(40, 80, 120);
  const Bytes jpeg = test::encodeJpeg(picture);
  dir.write("shot.bin", jpeg);  // found by its FF D8 start
  Recorder recorder(1);
  const auto device = openCamera("dir:" + dir.path(), recorder);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(recorder.waitFor(1));
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  EXPECT_EQ(device->GetStreamInfo(w, h, code), kSOk);
  EXPECT_EQ(code, fourcc::kMjpg);
  EXPECT_EQ(std::make_pair(w, h), std::make_pair(24, 16));
  EXPECT_EQ(device->formats().front().sampleSize, 0);
  EXPECT_EQ(recorder.frames().front(), jpeg);
  convert(*device, jpeg);
}

TEST(SimulatedCameraTest, DirectoryProblemsAreReported) {
  TempDir empty;
  TempDir raw;
  raw.write("frame.yuv", Bytes(8, 0));
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"dir:" + empty.path() + "/missing", "dir: cannot read"},
      {"dir:" + empty.path(), "holds no sample files"},
      {"dir:" + raw.path(), "format: needed, as 'frame.yuv' is not a JPEG file"},
      {"dir:" + raw.path() + ",format=I420", "size: needed for I420 samples"},
      {"dir:" + raw.path() + ",format=MJPG", "size: needed, as the picture size"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(SimulatedBackend::fromDescription(c.text, error), nullptr) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

// A file larger than the largest frame any entry of the table can have (8192x8192; a fixed cap
// for Motion-JPEG) is no sample: the camera is refused, rather than reading it into memory
// for every frame. The files are sparse: they take no room on the disk.
TEST(SimulatedCameraTest, SamplesLargerThanAnyFrameOfTheFormatAreRefused) {
  const std::uint64_t grey = largestSampleBytes(fourcc::kGrey);
  EXPECT_EQ(grey, 8192u * 8192u);
  EXPECT_EQ(largestSampleBytes(fourcc::kRgb), 3u * 8192u * 8192u);
  EXPECT_EQ(largestSampleBytes(fourcc::kMjpg), 64u << 20);
  TempDir dir;
  dir.write("a.raw", Bytes(8, 0));
  dir.write("b.raw", Bytes{});
  std::filesystem::resize_file(std::filesystem::path(dir.path()) / "b.raw", grey + 1);
  const struct {
    std::string options;
    bool refused;
  } cases[] = {
      {",format=GREY,size=4x2", true},
      {",format=MJPG,size=4x2", true},
      {",format=GREY,size=4x2,also=RGB@4x2", false},  // an RGB frame may be that large
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    std::string error;
    const auto backend = SimulatedBackend::fromDescription("dir:" + dir.path() + c.options, error);
    EXPECT_EQ(backend == nullptr, c.refused);
    if (c.refused) {
      EXPECT_NE(error.find("b.raw' is too large to be one sample: " + std::to_string(grey + 1) +
                           " bytes"),
                std::string::npos)
          << error;
    }
  }

  // A file that grows past the stream's largest sample later is not read either.
  DirectorySource source({std::filesystem::path(dir.path()) / "b.raw"}, false);
  source.start({fourcc::kGrey, 4, 2});
  std::span<const std::uint8_t> sample;
  ASSERT_TRUE(source.next(sample, FrameMoment{}));
  EXPECT_TRUE(sample.empty());
}

// The description is UTF-8 text on every system, and so are the names in its messages.
TEST(SimulatedCameraTest, DirectoryPathsAndFileNamesAreUtf8) {
  TempDir dir;
  const std::string folder = dir.path() + "/M\xc3\xbcnchen";
  std::filesystem::create_directory(pathFromUtf8(folder));
  std::ofstream(pathFromUtf8(folder + "/\xc3\xa4.yuv"), std::ios::binary) << "12345678";
  std::string error;
  EXPECT_NE(SimulatedBackend::fromDescription("dir:" + folder + ",format=GREY,size=4x2", error),
            nullptr)
      << error;
  EXPECT_EQ(SimulatedBackend::fromDescription("dir:" + folder, error), nullptr);
  EXPECT_NE(error.find("'\xc3\xa4.yuv' is not a JPEG file"), std::string::npos) << error;
}

TEST(SimulatedCameraTest, UnplugEndsTheStreamAndEmptySamplesAreSkipped) {
  Recorder recorder;
  const auto device =
      openCamera("synthetic:size=32x16,fps=0,unplug-after=7,empty-every=3", recorder);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(waitUntilStopped(*device));
  const SimulatedDevice::Counters n = device->counters();
  EXPECT_EQ(n.produced, 7u);
  EXPECT_EQ(n.skipped, 2u);  // frames 3 and 6
  EXPECT_EQ(n.delivered, 5u);
  EXPECT_EQ(recorder.calls(), 5u);
  EXPECT_TRUE(device->unplugged());
  std::vector<std::string> lines;
  device->ListFormats(lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(device->SetRunning(true), kEFail);
  EXPECT_EQ(device->SetFormatByIndex(0), kEFail);
}

// The camera stays listed while it is gone. Without back-after only the opening that saw the
// unplug is dead; with it every opening fails until that time has passed.
TEST(SimulatedCameraTest, UnpluggedCameraStaysListedAndReopensOnlyAsDescribed) {
  const struct {
    const char* options;
    HResult reopened;
  } cases[] = {
      {"", kSOk},
      {",back-after=3600000", kEFail},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("synthetic:size=32x16,fps=0,unplug-after=3") + c.options;
    SCOPED_TRACE(text);
    std::string error;
    const auto backend = SimulatedBackend::fromDescription(text, error);
    ASSERT_NE(backend, nullptr) << error;
    Recorder recorder;
    const auto first = backend->createSimulatedDevice();
    first->SetFrameCallback(&recorder);
    std::string found;
    ASSERT_EQ(first->StartVideo("", found), kSOk);
    ASSERT_TRUE(waitUntilStopped(*first));
    std::vector<std::string> names;
    EXPECT_EQ(backend->ListVideoDevices(names), kSOk);
    EXPECT_EQ(names, std::vector<std::string>{"Ravdel simulated camera"});

    const auto second = backend->createSimulatedDevice();
    second->SetFrameCallback(&recorder);
    found.clear();
    EXPECT_EQ(second->StartVideo("Ravdel simulated camera", found), c.reopened);
    EXPECT_EQ(found, "Ravdel simulated camera");
    EXPECT_EQ(first->SetRunning(true), kEFail);
    ASSERT_TRUE(waitUntilStopped(*second));
    EXPECT_EQ(second->counters().produced, c.reopened == kSOk ? 3u : 0u);
  }
}

// Reopened as the monitor does, a new object per try: never before back-after, then another
// N frames each time.
TEST(SimulatedCameraTest, CameraComesBackAfterItsTimeAndDropsOutAgain) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kBackAfter = 50ms;
  std::string error;
  const auto backend = SimulatedBackend::fromDescription(
      "synthetic:size=32x16,fps=0,unplug-after=4,back-after=50", error);
  ASSERT_NE(backend, nullptr) << error;
  Recorder recorder;
  Clock::time_point opened = Clock::now();  // before the opening, so before its unplug
  auto device = backend->createSimulatedDevice();
  device->SetFrameCallback(&recorder);
  std::string found;
  ASSERT_EQ(device->StartVideo("", found), kSOk);

  const auto deadline = Clock::now() + 20s;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(waitUntilStopped(*device));
    EXPECT_TRUE(device->unplugged());
    EXPECT_EQ(device->counters().produced, 4u);
    std::unique_ptr<SimulatedDevice> next;
    for (;;) {
      const Clock::time_point tried = Clock::now();
      next = backend->createSimulatedDevice();
      next->SetFrameCallback(&recorder);
      if (next->StartVideo("", found) == kSOk) {
        EXPECT_GE(Clock::now() - opened, kBackAfter);
        opened = tried;
        break;
      }
      EXPECT_FALSE(next->running());
      ASSERT_LT(Clock::now(), deadline) << "the camera never came back";
      std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(device->SetRunning(true), kEFail);  // the old opening stays dead
    device = std::move(next);
  }
  ASSERT_TRUE(waitUntilStopped(*device));
  EXPECT_EQ(device->counters().produced, 4u);
  EXPECT_EQ(recorder.calls(), 16u);
}

// A slow receiver at full rate: the destructor may catch it mid-frame, never after.
class SlowReceiver final : public FrameReceiver {
 public:
  void receiveFrame(const std::uint8_t*, std::int32_t&, const FrameMoment&) override {
    if (gone.load()) lateCalls.fetch_add(1);
    calls.fetch_add(1);
    std::this_thread::sleep_for(200us);
  }
  std::atomic<bool> gone{false};
  std::atomic<int> calls{0};
  std::atomic<int> lateCalls{0};
};

TEST(SimulatedCameraTest, StopsPromptlyAndNeverCallsAfterward) {
  Recorder paced(4);
  const auto slow = openCamera("synthetic:size=32x16,fps=0.5", paced);
  ASSERT_NE(slow, nullptr);
  ASSERT_TRUE(paced.waitFor(1));  // the first frame comes at once, the next in 2 s
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(slow->SetRunning(false), kSOk);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_EQ(slow->SetRunning(false), kSFalse);

  for (int round = 0; round < 20; ++round) {
    SlowReceiver receiver;
    auto device = openCamera("synthetic:size=320x240,unlimited,hits=50", receiver);
    ASSERT_NE(device, nullptr);
    while (receiver.calls.load() < 3)
      std::this_thread::yield();
    device.reset();
    receiver.gone.store(true);
    std::this_thread::sleep_for(1ms);
    EXPECT_EQ(receiver.lateCalls.load(), 0);
  }
}

}  // namespace
}  // namespace ravdel
