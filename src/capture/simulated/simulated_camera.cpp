#include "capture/simulated/simulated_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <system_error>

#if defined(__linux__)
#endif

#include "base/fourcc.h"
#include "capture/simulated/directory_source.h"
#include "capture/simulated/synthetic_source.h"
#include "convert/frame_converter.h"
#include "convert/jpeg_decoder.h"
#include "platform/files.h"
#include "platform/thread_name.h"

namespace ravdel {
namespace {

using Clock = std::chrono::steady_clock;

// Table entries a synthetic camera offers besides its own, so format switches can be tried.
constexpr SimulatedFormat kDefaultExtras[] = {
    {fourcc::kRgb, 320, 240},
    {fourcc::kI420, 640, 480},
    {fourcc::kYuy2, 1280, 720},
};

std::uint32_t tableCode(std::uint32_t streamCode) {
  return streamCode == fourcc::kRgb ? kRgbCapabilityCode : streamCode;
}

std::uint32_t streamCode(std::uint32_t tableCode) {
  return tableCode == kRgbCapabilityCode ? fourcc::kRgb : tableCode;
}

// A directory without format= is Motion-JPEG when its first file is a JPEG; a Motion-JPEG
// directory without size= takes its first picture's size.
bool settleDirectoryFormat(SimulatedSetup& setup, std::string& error) {
  SimulatedDescription& d = setup.description;
  const std::filesystem::path& first = setup.files.front();
  const std::string firstName = "'" + utf8FromPath(first.filename()) + "'";
  if (!d.formatGiven) {
    if (!isJpegFile(first)) {
      error = "format: needed, as " + firstName + " is not a JPEG file";
      return false;
    }
    d.format.fourcc = fourcc::kMjpg;
  }
  if (d.sizeGiven) return true;
  if (d.format.fourcc != fourcc::kMjpg) {
    error = "size: needed for " + fourccLabel(d.format.fourcc) + " samples";
    return false;
  }
  std::vector<std::uint8_t> bytes;
  JpegDecoder decoder;
  if (!readSampleFile(first, largestSampleBytes(fourcc::kMjpg), bytes) ||
      !decoder.readSize(bytes.data(), bytes.size(), d.format.width, d.format.height)) {
    error = "size: needed, as the picture size of " + firstName + " cannot be read";
    return false;
  }
  return true;
}

void buildFormatTable(SimulatedSetup& setup) {
  const SimulatedDescription& d = setup.description;
  std::vector<SimulatedFormat> entries{d.format};
  if (d.alsoGiven) {
    entries.insert(entries.end(), d.also.begin(), d.also.end());
  } else if (d.source == SimulatedDescription::Source::Synthetic) {
    entries.insert(entries.end(), std::begin(kDefaultExtras), std::end(kDefaultExtras));
  }
  setup.formats.clear();
  for (auto e = entries.begin(); e != entries.end(); ++e) {
    if (std::find(entries.begin(), e, *e) != e) continue;  // listed before
    VideoFormat f;
    f.width = e->width;
    f.height = e->height;
    f.sampleSize = static_cast<std::int32_t>(
        std::max<std::int64_t>(0, requiredSampleBytes(e->fourcc, e->width, e->height)));
    f.capsIndex = static_cast<std::int32_t>(setup.formats.size());
    f.fourcc = tableCode(e->fourcc);
    setup.formats.push_back(f);
  }
  sortFormats(setup.formats);
  const auto first = std::find_if(setup.formats.begin(), setup.formats.end(),
                                  [](const VideoFormat& f) { return f.capsIndex == 0; });
  setup.firstFormat = static_cast<std::int32_t>(first - setup.formats.begin());
}

// Null, said on stderr, when the truth file cannot be opened: a run without its truth would
// be scored wrongly.
std::unique_ptr<SampleSource> makeSource(const SimulatedSetup& setup) {
  const SimulatedDescription& d = setup.description;
  if (d.source == SimulatedDescription::Source::Directory)
    return std::make_unique<DirectorySource>(setup.files, d.once);
  auto source = std::make_unique<SyntheticSource>(syntheticSettings(d));
  std::string error;
  if (!d.truthPath.empty() && !source->openTruth(d.truthPath, error)) {
    captureLog(d.name + ": truth file '" + d.truthPath + "': " + error);
    return nullptr;
  }
  return source;
}

}  // namespace

// ---- SimulatedBackend ----

std::unique_ptr<SimulatedBackend> SimulatedBackend::fromDescription(const std::string& text,
                                                                    std::string& error) {
  auto setup = std::make_shared<SimulatedSetup>();
  if (!parseSimulatedDescription(text, setup->description, error)) return nullptr;
  if (setup->description.source == SimulatedDescription::Source::Directory) {
    if (!listSampleFiles(pathFromUtf8(setup->description.directory), setup->files, error))
      return nullptr;
    if (!settleDirectoryFormat(*setup, error)) return nullptr;
  }
  buildFormatTable(*setup);
  // Any entry of the table may be streamed: a file too large for all of them is refused.
  const auto largest = std::max_element(
      setup->formats.begin(), setup->formats.end(), [](const VideoFormat& a, const VideoFormat& b) {
        return largestSampleBytes(streamCode(a.fourcc)) < largestSampleBytes(streamCode(b.fourcc));
      });
  if (!refuseLargeSamples(setup->files, streamCode(largest->fourcc), error)) return nullptr;
  return std::make_unique<SimulatedBackend>(std::move(setup));
}

SimulatedBackend::SimulatedBackend(std::shared_ptr<const SimulatedSetup> setup)
    : setup_(std::move(setup)) {}

HResult SimulatedBackend::ListVideoDevices(std::vector<std::string>& list) {
  list.assign(1, setup_->description.name);
  return kSOk;
}

std::unique_ptr<CaptureDevice> SimulatedBackend::CreateDevice() {
  return createSimulatedDevice();
}

std::unique_ptr<SimulatedDevice> SimulatedBackend::createSimulatedDevice() const {
  return std::make_unique<SimulatedDevice>(setup_, plug_);
}

// ---- SimulatedDevice, main thread ----

SimulatedDevice::SimulatedDevice(std::shared_ptr<const SimulatedSetup> setup,
                                 std::shared_ptr<SimulatedPlug> plug)
    : setup_(std::move(setup)), plug_(std::move(plug)) {}

SimulatedDevice::~SimulatedDevice() {
  stopWorker();
}

HResult SimulatedDevice::listDeviceNames(std::vector<std::string>& names) {
  names.assign(1, setup_->description.name);
  return kSOk;
}

HResult SimulatedDevice::StartVideoAt(std::int32_t position, std::string& foundName) {
  if (position != 1) return kEFail;
  foundName = trimDeviceText(setup_->description.name);
  if (startTried_) return kEFail;
  startTried_ = true;
  current_ = setup_->firstFormat;
  openedUtcUs_ = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
  source_ = makeSource(*setup_);
  if (source_ == nullptr) return kEFail;
  opened_ = true;
  const HResult started = startWorker();
  if (failed(started)) opened_ = false;
  return started;
}

HResult SimulatedDevice::GetStreamInfo(std::int32_t& width, std::int32_t& height,
                                       std::uint32_t& fourcc) {
  width = 0;
  height = 0;
  if (!opened_) return kEFail;
  const VideoFormat& f = setup_->formats[static_cast<std::size_t>(current_)];
  width = f.width;
  height = f.height;
  fourcc = streamCode(f.fourcc);
  return kSOk;
}

void SimulatedDevice::SetFrameCallback(FrameReceiver* receiver) {
  slot_.install(receiver);
}

const std::vector<VideoFormat>& SimulatedDevice::formats() const {
  return setup_->formats;
}

HResult SimulatedDevice::SetFormatByIndex(std::int32_t index) {
  if (!opened_) return kEFail;
  if (index < 0 || static_cast<std::size_t>(index) >= setup_->formats.size()) return kSFalse;
  stopWorker();
  current_ = index;
  return startWorker();
}

HResult SimulatedDevice::SetRunning(bool run) {
  if (!opened_) return kEFail;
  if (!run) {
    const bool was = streaming_.load();
    stopWorker();
    return was ? kSOk : kSFalse;
  }
  if (streaming_.load()) return kSFalse;
  stopWorker();  // joins a worker that ended by itself
  return startWorker();
}

bool SimulatedDevice::running() const {
  return streaming_.load();
}

SimulatedDevice::Counters SimulatedDevice::counters() const {
  return {produced_.load(), delivered_.load(), skipped_.load()};
}

// Without back-after an unplug ends only the opening that saw it, as it always has.
bool SimulatedDevice::present() const {
  if (unplugged_.load()) return false;
  const std::chrono::milliseconds backAfter = setup_->description.backAfter;
  return backAfter.count() == 0 || plug_->pluggedIn(Clock::now(), backAfter);
}

HResult SimulatedDevice::startWorker() {
  if (!present()) return kEFail;
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopRequested_ = false;
  }
  const VideoFormat& f = setup_->formats[static_cast<std::size_t>(current_)];
  streaming_.store(true);
  try {
    worker_ = std::thread(&SimulatedDevice::run, this, streamCode(f.fourcc), f.width, f.height);
  } catch (const std::system_error&) {
    streaming_.store(false);
    return kEFail;
  }
  return kSOk;
}

// Prompt: the worker's pacing wait ends at the request, so this waits at most for the frame
// being made and delivered.
void SimulatedDevice::stopWorker() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopRequested_ = true;
  }
  stopWake_.notify_all();
  worker_.join();
  streaming_.store(false);
  logStreamStopped(setup_->description.name, slot_, produced_.load(), delivered_.load());
}

// ---- SimulatedDevice, worker thread ----

void SimulatedDevice::run(std::uint32_t fourcc, std::int32_t width, std::int32_t height) {
  nameThisThread("ravdel-simcam");
  const SimulatedDescription& d = setup_->description;
  const bool paced = d.fps > 0.0;
  const auto period =
      paced
          ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / d.fps))
          : Clock::duration::zero();
  try {
    source_->start({fourcc, width, height});
    stream(paced, period);
  } catch (const std::bad_alloc&) {
    // No memory for the frames: the camera fails as a real one would, by going quiet.
  }
  streaming_.store(false);
}

void SimulatedDevice::stream(bool paced, Clock::duration period) {
  const SimulatedDescription& d = setup_->description;
  static constexpr std::uint8_t kNoBytes[1] = {0};
  Clock::time_point due = Clock::now();
  while (waitUntil(due, paced)) {
    const std::uint64_t frame = produced_.load() + 1;
    const FrameMoment moment = frameMoment(frame);
    std::span<const std::uint8_t> sample(kNoBytes, 0);
    const bool empty = d.emptyEvery != 0 && frame % d.emptyEvery == 0;
    // A directory played once has ended, or a hit could not go to the truth file.
    if (!empty && !source_->next(sample, moment)) break;
    const bool delivered =
        slot_.deliver(sample.data(), static_cast<std::int32_t>(sample.size()), moment);
    (delivered ? delivered_ : skipped_).fetch_add(1);
    produced_.store(frame);
    if (d.unplugAfter != 0 && frame >= d.unplugAfter) {
      // Recorded before streaming_ clears, so whoever sees the stream end sees the unplug.
      plug_->unplug(Clock::now());
      unplugged_.store(true);
      break;
    }
    // A late frame moves the schedule instead of bursting to catch up.
    due = std::max(due + period, Clock::now());
  }
}

// The stream's own clock: frame N ends N periods after the opening, whenever it is made.
FrameMoment SimulatedDevice::frameMoment(std::uint64_t frame) const {
  const SimulatedDescription& d = setup_->description;
  const double fps = d.fps > 0.0 ? d.fps : kUnpacedHitFps;
  const double periodUs = 1.0e6 / fps;
  return {openedUtcUs_ + std::llround(static_cast<double>(frame) * periodUs),
          std::llround(periodUs)};
}

bool SimulatedDevice::waitUntil(Clock::time_point due, bool paced) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  if (paced) stopWake_.wait_until(lock, due, [this] { return stopRequested_; });
  return !stopRequested_;
}

}  // namespace ravdel
