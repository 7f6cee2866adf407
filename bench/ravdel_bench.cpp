// Time per frame of the frame path (conversion, analysis, event image) against the libraries
// one would otherwise use, on dark taped-lens pictures. Single-threaded; every benchmark runs
// its operation twice before the timed loop, so first-touch and cache warm-up are not timed.
// Run bench/run_ratios.sh for the ratios.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <libyuv.h>
#include <png.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/fourcc.h"
#include "base/frame_bitmap.h"
#include "capture/headless_main_loop.h"
#include "capture/simulated/simulated_camera.h"
#include "capture/video_image.h"
#include "convert/frame_converter.h"
#include "convert/yuv_kernels.h"
#include "detection/frame_analysis.h"
#include "detection/hot_pixel_mask.h"
#include "detection/png_writer.h"
#include "monitor/monitor.h"
#include "quality_bench.h"
#include "support/jpeg_encode.h"
#include "support/silent_view.h"

namespace ravdel {
namespace {

struct Size {
  std::int32_t width;
  std::int32_t height;
};
constexpr Size kSizes[] = {{640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};

// Deterministic noise, the same on every machine and library.
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : state_(seed) {}
  std::uint32_t next() {  // SplitMix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
  }
  // Mostly small: the sum of three small uniform values, 0..spread.
  std::uint8_t dark(std::uint32_t spread) {
    const std::uint32_t r = next();
    const std::uint32_t third = spread / 3 + 1;
    return static_cast<std::uint8_t>((r % third) + ((r >> 10) % third) + ((r >> 20) % third));
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint64_t state_;
};

// One hot pixel per 50000 or so, like a sensor's defects and the odd particle hit.
std::size_t hotPixelCount(Size s) {
  return static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height) / 50000 + 1;
}

// The pictures of one size, made once.
struct Frames {
  FrameBitmap bgr;                 // dark noise 0..12 with hot pixels
  std::vector<std::uint8_t> yuy2;  // Y ~ 16 + noise, U, V ~ 128 +- 2, hot Y values
  std::vector<std::uint8_t> i420;
  std::vector<std::uint8_t> nv12;  // i420's bytes with the chroma interleaved
  std::vector<std::uint8_t> uyvy;  // yuy2's bytes in U Y V Y order
  std::vector<std::uint8_t> grey;  // i420's luma
  std::vector<std::uint8_t> jpeg;  // `bgr` compressed as a webcam would, 4:2:2, quality 85
};

std::unique_ptr<Frames> makeFrames(Size s) {
  auto f = std::make_unique<Frames>();
  const auto w = static_cast<std::size_t>(s.width);
  const auto h = static_cast<std::size_t>(s.height);
  Noise noise(0x5EED0000u + w);

  f->bgr.resize(s.width, s.height);
  for (std::size_t i = 0; i < f->bgr.byteCount(); ++i)
    f->bgr.data()[i] = noise.dark(12);
  for (std::size_t k = 0; k < hotPixelCount(s); ++k) {
    std::uint8_t* p = f->bgr.data() + 3 * noise.below(static_cast<std::uint32_t>(w * h));
    for (int c = 0; c < 3; ++c)
      p[c] = static_cast<std::uint8_t>(120 + noise.below(136));
  }

  const auto chroma = [&] { return static_cast<std::uint8_t>(126 + noise.below(5)); };
  f->yuy2.resize(w * h * 2);
  for (std::size_t i = 0; i < f->yuy2.size(); i += 4) {
    f->yuy2[i] = static_cast<std::uint8_t>(16 + noise.dark(6));
    f->yuy2[i + 1] = chroma();
    f->yuy2[i + 2] = static_cast<std::uint8_t>(16 + noise.dark(6));
    f->yuy2[i + 3] = chroma();
  }
  f->i420.resize(w * h * 3 / 2);
  for (std::size_t i = 0; i < w * h; ++i)
    f->i420[i] = static_cast<std::uint8_t>(16 + noise.dark(6));
  for (std::size_t i = w * h; i < f->i420.size(); ++i)
    f->i420[i] = chroma();
  for (std::size_t k = 0; k < hotPixelCount(s); ++k) {
    const std::size_t pixel = noise.below(static_cast<std::uint32_t>(w * h));
    const auto hot = static_cast<std::uint8_t>(180 + noise.below(76));
    f->yuy2[2 * pixel] = hot;
    f->i420[pixel] = hot;
  }

  f->nv12 = f->i420;
  const std::size_t quarter = w * h / 4;
  for (std::size_t k = 0; k < quarter; ++k) {
    f->nv12[w * h + 2 * k] = f->i420[w * h + k];
    f->nv12[w * h + 2 * k + 1] = f->i420[w * h + quarter + k];
  }
  f->uyvy = f->yuy2;
  for (std::size_t i = 0; i < f->uyvy.size(); i += 2)
    std::swap(f->uyvy[i], f->uyvy[i + 1]);
  f->grey.assign(f->i420.begin(), f->i420.begin() + static_cast<std::ptrdiff_t>(w * h));

  f->jpeg = test::encodeJpeg(f->bgr, {.quality = 85, .subsample422 = true});
  return f;
}

const Frames& frames(Size s) {
  static std::map<std::pair<std::int32_t, std::int32_t>, std::unique_ptr<Frames>> cache;
  auto& slot = cache[{s.width, s.height}];
  if (!slot) slot = makeFrames(s);
  return *slot;
}

std::filesystem::path& tempDir() {
  static std::filesystem::path dir;
  return dir;
}

std::uintmax_t fileSize(const std::filesystem::path& p) {
  return std::filesystem::file_size(p);
}

// Makes a result observable (through a non-const lvalue, which every library version takes).
template <typename T>
void keep(T value) {
  benchmark::DoNotOptimize(value);
}

// Runs `op` twice untimed, then the timed loop: one frame per iteration.
template <typename Op>
void timeFrames(benchmark::State& state, Op&& op) {
  op();
  op();
  for (auto _ : state) {
    op();
    benchmark::ClobberMemory();
  }
}

void benchRavdelConvert(benchmark::State& state, Size s, std::uint32_t code,
                        const std::vector<std::uint8_t>& sample) {
  FrameConverter converter;
  FrameBitmap bitmap(s.width, s.height);
  timeFrames(state, [&] {
    const ConvertOutcome o = converter.ConvertFrame(code, static_cast<std::int32_t>(sample.size()),
                                                    sample.data(), bitmap);
    if (o != ConvertOutcome::Converted) throw std::runtime_error("conversion failed");
    keep(bitmap.data());
  });
}

// The packed 4:2:2 rows through one narrower kernel set, as on a processor without the best
// set's instructions: its figure beside the best set's and libyuv's in one run.
void benchKernelSetRows(benchmark::State& state, Size s, const YuvKernels& kernels, bool uyvy) {
  const std::vector<std::uint8_t>& sample = uyvy ? frames(s).uyvy : frames(s).yuy2;
  const auto row = uyvy ? kernels.uyvyRow : kernels.packedRow;
  const auto rowBytes = static_cast<std::size_t>(s.width) * 2;
  FrameBitmap bitmap(s.width, s.height);
  timeFrames(state, [&] {
    for (std::int32_t r = 0; r < s.height; ++r) {
      keep(row(yuvTables(), sample.data() + static_cast<std::size_t>(r) * rowBytes, bitmap.row(r),
               s.width / 2));
    }
  });
}

// libyuv converts packed 4:2:2 and luma-only frames to 32-bit ARGB only, not to 24 bits:
// `convert(frames, argb)` is one such conversion.
template <typename Convert>
void benchLibyuvToArgb(benchmark::State& state, Size s, Convert convert) {
  const Frames& f = frames(s);
  std::vector<std::uint8_t> argb(static_cast<std::size_t>(s.width) * 4 *
                                 static_cast<std::size_t>(s.height));
  timeFrames(state, [&] {
    convert(f, argb.data());
    keep(argb.data());
  });
}

void benchLibyuvYuy2(benchmark::State& state, Size s) {
  benchLibyuvToArgb(state, s, [s](const Frames& f, std::uint8_t* argb) {
    libyuv::YUY2ToARGB(f.yuy2.data(), s.width * 2, argb, s.width * 4, s.width, s.height);
  });
}

void benchLibyuvI420(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  const auto lumaBytes = static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
  const std::uint8_t* y = f.i420.data();
  const std::uint8_t* u = y + lumaBytes;
  const std::uint8_t* v = u + lumaBytes / 4;
  std::vector<std::uint8_t> rgb24(lumaBytes * 3);  // libyuv's RGB24 is B, G, R in memory
  timeFrames(state, [&] {
    libyuv::I420ToRGB24(y, s.width, u, s.width / 2, v, s.width / 2, rgb24.data(), s.width * 3,
                        s.width, s.height);
    keep(rgb24.data());
  });
}

void benchLibyuvNv12(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  const auto lumaBytes = static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
  std::vector<std::uint8_t> rgb24(lumaBytes * 3);
  timeFrames(state, [&] {
    libyuv::NV12ToRGB24(f.nv12.data(), s.width, f.nv12.data() + lumaBytes, s.width, rgb24.data(),
                        s.width * 3, s.width, s.height);
    keep(rgb24.data());
  });
}

void benchLibyuvUyvy(benchmark::State& state, Size s) {
  benchLibyuvToArgb(state, s, [s](const Frames& f, std::uint8_t* argb) {
    libyuv::UYVYToARGB(f.uyvy.data(), s.width * 2, argb, s.width * 4, s.width, s.height);
  });
}

// Studio-range luma.
void benchLibyuvGrey(benchmark::State& state, Size s) {
  benchLibyuvToArgb(state, s, [s](const Frames& f, std::uint8_t* argb) {
    libyuv::I400ToARGB(f.grey.data(), s.width, argb, s.width * 4, s.width, s.height);
  });
}

void benchOpencv(benchmark::State& state, Size s, bool packed) {
  const Frames& f = frames(s);
  const cv::Mat src =
      packed
          ? cv::Mat(s.height, s.width, CV_8UC2, const_cast<std::uint8_t*>(f.yuy2.data()))
          : cv::Mat(s.height * 3 / 2, s.width, CV_8UC1, const_cast<std::uint8_t*>(f.i420.data()));
  cv::Mat dst(s.height, s.width, CV_8UC3);
  const int code = packed ? cv::COLOR_YUV2BGR_YUY2 : cv::COLOR_YUV2BGR_I420;
  timeFrames(state, [&] {
    cv::cvtColor(src, dst, code);
    keep(dst.data);
  });
}

void benchLibjpegDecode(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(s.width) * 3 *
                                static_cast<std::size_t>(s.height));
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  timeFrames(state, [&] {
    jpeg_mem_src(&cinfo, f.jpeg.data(), static_cast<unsigned long>(f.jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * 3;
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = out.data() + cinfo.output_scanline * stride;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    keep(out.data());
  });
  jpeg_destroy_decompress(&cinfo);
}

void benchPeak(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  timeFrames(state, [&] { keep(findPeak(f.bgr)); });
}

// The same search with hot pixels masked: the frame's own bright pixels and 20 more, as a
// calibrated sensor's mask would hold.
void benchPeakMasked(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  HotPixelMask mask(s.width, s.height);
  Noise noise(0x4d41534bu);
  for (std::int32_t y = 0; y < s.height; ++y) {
    for (std::int32_t x = 0; x < s.width; ++x) {
      const std::uint8_t* p = f.bgr.row(y) + 3 * x;
      if (std::max({p[0], p[1], p[2]}) >= 120) mask.add(x, y);
    }
  }
  while (mask.count() < hotPixelCount(s) + 20)
    mask.add(static_cast<std::int32_t>(noise.below(static_cast<std::uint32_t>(s.width))),
             static_cast<std::int32_t>(noise.below(static_cast<std::uint32_t>(s.height))));
  timeFrames(state, [&] { keep(findPeak(f.bgr, mask)); });
  state.counters["masked"] = static_cast<double>(mask.count());
}

// What an event frame costs more with clusters on: the whole frame searched for pixels above
// the limit and each cluster grown.
void benchClusters(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  std::size_t found = 0;
  timeFrames(state, [&] {
    const std::vector<Cluster> clusters = findClusters(f.bgr, ClusterSettings{}, 0, 0);
    found = clusters.size();
    keep(clusters.data());
  });
  state.counters["clusters"] = static_cast<double>(found);
}

// What every frame costs more with the light-leak guard on.
void benchLeakMean(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  timeFrames(state, [&] { keep(meanMagnitude(f.bgr, kFrameMeanStep)); });
}

void benchAnalyse(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  FrameBitmap work;
  timeFrames(state, [&] {
    work = f.bgr;
    keep(analyseFrame(work, AnalysisOptions{}));
  });
}

void benchRavdelPng(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  const std::filesystem::path path = tempDir() / "ravdel.png";
  timeFrames(state, [&] { writePng(f.bgr, path.string()); });
  state.counters["bytes"] = static_cast<double>(fileSize(path));
}

// libpng as it comes: nothing set but the picture format (and B, G, R byte order).
void writeLibpngDefault(const FrameBitmap& bgr, const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path.string());
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw std::runtime_error("libpng failed");
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bgr.width()),
               static_cast<png_uint_32>(bgr.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (std::int32_t y = 0; y < bgr.height(); ++y)
    png_write_row(png, bgr.row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

void benchLibpngDefault(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  const std::filesystem::path path = tempDir() / "libpng.png";
  timeFrames(state, [&] { writeLibpngDefault(f.bgr, path); });
  state.counters["bytes"] = static_cast<double>(fileSize(path));
}

void benchCopy(benchmark::State& state, Size s) {
  const Frames& f = frames(s);
  std::vector<std::uint8_t> copy(f.bgr.byteCount());
  timeFrames(state, [&] {
    std::memcpy(copy.data(), f.bgr.data(), f.bgr.byteCount());
    keep(copy.data());
  });
}

// One copy of a camera frame (YUY2) into the next of three buffers, as the receiver's slots
// rotate: the copy the receiver cannot avoid, under the same cache conditions.
void benchCopyFrame(benchmark::State& state, Size s) {
  const std::vector<std::uint8_t>& sample = frames(s).yuy2;
  std::vector<std::uint8_t> ring[3] = {sample, sample, sample};
  std::size_t next = 0;
  timeFrames(state, [&] {
    std::memcpy(ring[next].data(), sample.data(), sample.size());
    keep(ring[next].data());
    next = (next + 1) % 3;
  });
}

// No cameras: the receiver is fed directly.
class NoCameras final : public CaptureBackend {
 public:
  HResult ListVideoDevices(std::vector<std::string>& list) override {
    list.clear();
    return kSFalse;
  }
  std::unique_ptr<CaptureDevice> CreateDevice() override { return nullptr; }
};

// The capture thread's work per frame: clock, copy into a slot, post. Every 16 frames the
// main thread's bookkeeping for the notifications runs too (no conversion), so the backlog
// never fills and the loop stays recently idle.
void benchReceiver(benchmark::State& state, Size s) {
  const std::vector<std::uint8_t>& sample = frames(s).yuy2;
  NoCameras backend;
  HeadlessMainLoop loop;
  TVideoImage image(backend, loop);
  loop.processPending();
  std::uint64_t n = 0;
  for (auto _ : state) {
    auto bytes = static_cast<std::int32_t>(sample.size());
    image.receiveFrame(sample.data(), bytes, FrameMoment{});
    if (++n % 16 == 0) loop.processPending();
  }
  if (image.framesDropped() != 0) state.SkipWithError("frames were dropped");
}

// Keeps the calling thread, and the threads it starts, on one core while it lives.
class OneCore {
 public:
  OneCore() {
    sched_getaffinity(0, sizeof saved_, &saved_);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (std::size_t cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &saved_)) {
        CPU_SET(cpu, &one);
        break;
      }
    }
    sched_setaffinity(0, sizeof one, &one);
  }
  ~OneCore() { sched_setaffinity(0, sizeof saved_, &saved_); }
  OneCore(const OneCore&) = delete;
  OneCore& operator=(const OneCore&) = delete;

 private:
  cpu_set_t saved_{};
};

// Processor time of this process (all its threads), in milliseconds: on one core, what the
// frame path costs however busy the machine is.
double processCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

// Frames analysed per second of wall time, and processor time per frame, over the timed
// iterations: each runs the loop a tenth of a second. `analysed` counts the frames so far.
template <typename Analysed>
void timeDelivery(benchmark::State& state, HeadlessMainLoop& loop, Analysed analysed) {
  double seconds = 0, cpuMs = 0;
  std::uint64_t counted = 0;
  for (auto _ : state) {
    const auto before = static_cast<std::uint64_t>(analysed());
    const double cpuBefore = processCpuMs();
    const auto start = std::chrono::steady_clock::now();
    loop.run(std::chrono::milliseconds(100));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpuMs += processCpuMs() - cpuBefore;
    counted += static_cast<std::uint64_t>(analysed()) - before;
  }
  state.counters["frames_per_s"] = static_cast<double>(counted) / seconds;
  state.counters["cpu_ms_per_frame"] = counted == 0 ? 0.0 : cpuMs / static_cast<double>(counted);
}

// The simulated camera as fast as it goes into frame delivery, and a consumer that converts
// and analyses every notification, all on one core. YUY2 unless `format` says otherwise.
void benchEndToEnd(benchmark::State& state, Size s, const char* format = "YUY2") {
  const OneCore pinned;
  std::string error;
  const auto backend = SimulatedBackend::fromDescription(
      std::string("synthetic:format=") + format + ",size=" + std::to_string(s.width) + "x" +
          std::to_string(s.height) + ",fps=0,hits=30",
      error);
  if (!backend) {
    state.SkipWithError(error.c_str());
    return;
  }
  HeadlessMainLoop loop;
  TVideoImage image(*backend, loop);
  FrameBitmap work;
  std::uint64_t analysed = 0;
  image.OnNewVideoFrame = [&](TVideoImage& sender, std::int32_t, std::int32_t,
                              const std::uint8_t*) {
    sender.GetBitmap(work);
    keep(analyseFrame(work, {}).event);
    ++analysed;
  };
  if (image.VideoStart("#1") != 0) {
    state.SkipWithError("the simulated camera did not start");
    return;
  }
  loop.run(std::chrono::milliseconds(200));  // warm-up
  // The figures are counters (the time column says nothing per frame here).
  timeDelivery(state, loop, [&] { return analysed; });
  image.VideoStop();
}

// What the headless program shows, minus the printing; the limit is out of reach so that, as
// in the figure above, no picture is written.
class QuietView final : public test::SilentView {
 public:
  UserOptions userOptions() const override { return {255, false, false, false}; }
};

// The same camera through the whole monitoring sequence the headless program runs: the
// frame handler's bookkeeping, the analysis, the thumbnail and the view's calls.
void benchEndToEndHeadless(benchmark::State& state, Size s) {
  const OneCore pinned;
  std::string error;
  const auto backend =
      SimulatedBackend::fromDescription("synthetic:format=YUY2,size=" + std::to_string(s.width) +
                                            "x" + std::to_string(s.height) + ",fps=0,hits=30",
                                        error);
  if (!backend) {
    state.SkipWithError(error.c_str());
    return;
  }
  HeadlessMainLoop loop;
  QuietView view;
  Monitor monitor(*backend, loop, view);
  monitor.Open((tempDir() / "no-settings.ini").string(), tempDir().string() + "/");
  if (!monitor.RunSBClick()) {
    state.SkipWithError("the simulated camera did not start");
    return;
  }
  loop.run(std::chrono::milliseconds(200));  // warm-up
  timeDelivery(state, loop, [&] { return monitor.framesSinceRun(); });
  monitor.StopMonitoring();
}

template <typename Fn>
void add(const std::string& name, Size s, Fn fn) {
  const std::string full = name + "/" + std::to_string(s.width) + "x" + std::to_string(s.height);
  benchmark::RegisterBenchmark(full.c_str(), [s, fn](benchmark::State& state) {
    fn(state, s);
  })->Unit(benchmark::kMillisecond);
}

void registerAll() {
  for (const Size s : kSizes) {
    add("convert/YUY2/ravdel", s, [](benchmark::State& st, Size z) {
      benchRavdelConvert(st, z, fourcc::kYuy2, frames(z).yuy2);
    });
    add("convert/YUY2/libyuv", s, benchLibyuvYuy2);
    add("convert/YUY2/opencv", s, [](benchmark::State& st, Size z) { benchOpencv(st, z, true); });
    add("convert/I420/ravdel", s, [](benchmark::State& st, Size z) {
      benchRavdelConvert(st, z, fourcc::kI420, frames(z).i420);
    });
    add("convert/I420/libyuv", s, benchLibyuvI420);
    add("convert/I420/opencv", s, [](benchmark::State& st, Size z) { benchOpencv(st, z, false); });
    add("convert/NV12/ravdel", s, [](benchmark::State& st, Size z) {
      benchRavdelConvert(st, z, fourcc::kNv12, frames(z).nv12);
    });
    add("convert/NV12/libyuv", s, benchLibyuvNv12);
    add("convert/UYVY/ravdel", s, [](benchmark::State& st, Size z) {
      benchRavdelConvert(st, z, fourcc::kUyvy, frames(z).uyvy);
    });
    add("convert/UYVY/libyuv", s, benchLibyuvUyvy);
    for (int i = 1; i + 1 < availableYuvKernelCount(); ++i) {
      const YuvKernels& k = availableYuvKernels(i);
      for (const bool uyvy : {false, true}) {
        add(std::string(uyvy ? "convert/UYVY/ravdel-" : "convert/YUY2/ravdel-") + k.name, s,
            [&k, uyvy](benchmark::State& st, Size z) { benchKernelSetRows(st, z, k, uyvy); });
      }
    }
    add("convert/GREY/ravdel", s, [](benchmark::State& st, Size z) {
      benchRavdelConvert(st, z, fourcc::kGrey, frames(z).grey);
    });
    add("convert/GREY/libyuv", s, benchLibyuvGrey);
    add("convert/MJPG/ravdel", s, [](benchmark::State& st, Size z) {
      benchRavdelConvert(st, z, fourcc::kMjpg, frames(z).jpeg);
    });
    add("convert/MJPG/libjpeg-turbo", s, benchLibjpegDecode);
    add("analyse/peak/ravdel", s, benchPeak);
    add("analyse/peak-masked/ravdel", s, benchPeakMasked);
    add("analyse/frame/ravdel", s, benchAnalyse);
    add("analyse/clusters/ravdel", s, benchClusters);
    add("analyse/leak-mean/ravdel", s, benchLeakMean);
    add("png/dark/ravdel", s, benchRavdelPng);
    add("png/dark/libpng-default", s, benchLibpngDefault);
    add("memory/copy", s, benchCopy);
    add("memory/copy-frame", s, benchCopyFrame);
    add("deliver/receiver", s, benchReceiver);
    add("deliver/end-to-end", s, [](benchmark::State& st, Size z) { benchEndToEnd(st, z); });
    add("deliver/end-to-end-grey", s,
        [](benchmark::State& st, Size z) { benchEndToEnd(st, z, "GREY"); });
    add("deliver/end-to-end-headless", s, benchEndToEndHeadless);
  }
}

}  // namespace
}  // namespace ravdel

int main(int argc, char** argv) {
  cv::setNumThreads(1);  // every contender on one core
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  auto& dir = ravdel::tempDir();
  dir = std::filesystem::temp_directory_path() /
        ("ravdel-bench-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  ravdel::registerAll();
  ravdel::registerQualityBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
