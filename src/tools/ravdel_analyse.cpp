// ravdel-analyse: converts and analyses recorded camera samples exactly as the monitoring
// program does with live frames, for checking recordings and tuning the limit offline.

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/fourcc.h"
#include "base/frame_bitmap.h"
#include "base/json_text.h"
#include "convert/frame_converter.h"
#include "convert/jpeg_decoder.h"
#include "detection/event_records.h"
#include "detection/frame_analysis.h"
#include "detection/light_leak_guard.h"
#include "detection/png_writer.h"
#include "monitor/settings.h"
#include "platform/console_program.h"
#include "platform/files.h"
#include "run_score.h"

namespace ravdel {
namespace {

constexpr const char* kProgram = "ravdel-analyse";
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = R"(Usage: ravdel-analyse [OPTIONS] FILE...
       ravdel-analyse --truth TRUTH [SCORING OPTIONS] EVENTLOG...

Converts and analyses raw camera samples as the monitoring program does, one file per
frame, in order, with one converter and one frame reused like a stream.

Sample format:
  --fourcc CODE     RGB (or 0), I420, IYUV, YV12, NV12, NV21, YUY2, YUNV, YUYV, UYVY,
                    GREY, MJPG or any four characters. Without it a file starting with
                    FF D8 is taken as MJPG.
  --width W         frame size; for Motion-JPEG it defaults to each picture's own size
  --height H
Analysis:
  --limit N         a channel above N makes an event, {limit}
  --gray            show and store the picture grey (the event check always sees
                    the captured colours)
  --inverse         show and store the picture inverted
  --lens-check      check each file as the first frame after a start; report the mean
  --light-leak-guard
                    a file whose mean pixel magnitude is above the leak level is no event,
                    nor is any while that has lasted a second (by the files' modification
                    times) until it has been below for two seconds; reports the mean
  --leak-level N    the guard's level, {leak-level}
  --clusters        report each event's clusters: connected pixels above the cluster
                    level around pixels above the limit
  --cluster-level N a cluster pixel has a channel above N, {cluster-level}
Output:
  --json            one JSON object per line and file
  --out DIR         write each event's picture as PNG into DIR, named after the moment the
                    file was last modified (yymmddhhnnsszzz.png, local time)
  --all             with --out: write every frame's picture, not only events'
  --help            show this text
Scoring (a simulated camera's truth file against ravdel-monitor's event logs of that run):
  --truth FILE      the truth file: one line per injected hit
                    An event is a hit's when the hit struck within the event's interval
                    (its t_lo_us to t_hi_us) ...
  --match-px N      ... and the event's peak lies within N pixels of the hit's box
                    (default 3)
  --match-frames N  files without those times (written by older versions) are matched by
                    frame instead: the frame numbers differ by at most N (default 5)
  --live-s S        the run's live time in seconds; default: the last event's live_s
  --json            the score as one JSON object

Exit status: 0 when all went well, 1 when a file could not be read or converted or a
picture could not be written, 2 for a usage error.
)";

struct Options {
  std::optional<std::uint32_t> fourcc;
  std::optional<std::int32_t> width, height;
  AnalysisOptions analysis;
  bool lightLeakGuard = false;
  LightLeakGuard::Settings lightLeak;
  bool clusters = false;
  std::uint8_t clusterLevel = ClusterSettings{}.level;
  bool json = false;
  std::string outDir;
  bool all = false;
  std::vector<std::string> files;
  std::optional<std::string> truth;  // scoring instead of analysing
  MatchTolerance tolerance;
  std::optional<double> liveSeconds;
  std::set<std::string, std::less<>> given;  // the options on the command line
};

class UsageError : public std::exception {
 public:
  explicit UsageError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

long parseNumber(std::string_view option, std::string_view text, long min, long max) {
  long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    throw UsageError(std::string(option) + " needs a number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not '" + std::string(text) + "'");
  }
  return value;
}

// A number of the settings file's, with the values its key takes as a flag.
std::int32_t settingNumber(std::string_view option, std::string_view text, const SettingKey& key) {
  return static_cast<std::int32_t>(parseNumber(option, text, key.flagLeast, key.most));
}

double parseSeconds(std::string_view text) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !(value >= 0.0) || value > 1e9) {
    throw UsageError("--live-s needs a number of seconds, not '" + std::string(text) + "'");
  }
  return value;
}

// The options only scoring takes; false when `name` is none of them.
template <typename Value>
bool parseScoringOption(Options& o, std::string_view name, Value value) {
  if (name == "--truth") {
    o.truth = std::string(value());
    if (o.truth->empty()) throw UsageError("--truth needs a file");
  } else if (name == "--match-frames") {
    o.tolerance.frames = parseNumber(name, value(), 0, 1000000);
  } else if (name == "--match-px") {
    o.tolerance.pixels = static_cast<std::int32_t>(parseNumber(name, value(), 0, 8192));
  } else if (name == "--live-s") {
    o.liveSeconds = parseSeconds(value());
  } else {
    return false;
  }
  return true;
}

// Scoring reads event logs: the options for samples have nothing to act on.
void checkScoringUsage(const Options& o) {
  for (const std::string& name : o.given) {
    if (name == "--json" || name == "--truth" || name.starts_with("--match") || name == "--live-s")
      continue;
    throw UsageError(name + " does not apply when scoring (--truth)");
  }
  if (o.files.empty()) throw UsageError("--truth needs an event log to score");
}

// Returns nothing when --help was asked for.
std::optional<Options> parseArguments(const std::vector<std::string>& args) {
  Options o;
  bool optionsEnded = false;
  const std::size_t argc = args.size();
  for (std::size_t i = 0; i < argc; ++i) {
    std::string_view arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o.files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value".
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) throw UsageError(std::string(name) + " needs a value");
      return args[++i];
    };
    auto flag = [&](bool& target) {
      if (inlineValue) throw UsageError(std::string(name) + " takes no value");
      target = true;
    };
    if (name == "--help" || name == "-h") return std::nullopt;
    o.given.emplace(name);
    if (parseScoringOption(o, name, value)) continue;
    if (name == "--fourcc") {
      std::uint32_t code = 0;
      const std::string text(value());
      if (!parseFourCC(text, code)) {
        throw UsageError("--fourcc needs RGB, 0 or four characters, not '" + text + "'");
      }
      o.fourcc = code;
    } else if (name == "--width") {
      o.width = static_cast<std::int32_t>(parseNumber(name, value(), 1, 1 << 20));
    } else if (name == "--height") {
      o.height = static_cast<std::int32_t>(parseNumber(name, value(), 1, 1 << 20));
    } else if (name == "--limit") {
      o.analysis.limit = static_cast<std::uint8_t>(settingNumber(name, value(), setting::limit));
    } else if (name == "--gray") {
      flag(o.analysis.gray);
    } else if (name == "--inverse") {
      flag(o.analysis.inverse);
    } else if (name == "--lens-check") {
      flag(o.analysis.lensCheck);
    } else if (name == "--light-leak-guard") {
      flag(o.lightLeakGuard);
    } else if (name == "--leak-level") {
      o.lightLeak.level = settingNumber(name, value(), setting::leakLevel);
    } else if (name == "--clusters") {
      flag(o.clusters);
    } else if (name == "--cluster-level") {
      o.clusterLevel =
          static_cast<std::uint8_t>(settingNumber(name, value(), setting::clusterLevel));
    } else if (name == "--json") {
      flag(o.json);
    } else if (name == "--all") {
      flag(o.all);
    } else if (name == "--out") {
      o.outDir = value();
      if (o.outDir.empty()) throw UsageError("--out needs a directory");
    } else {
      throw UsageError("unknown option " + std::string(name));
    }
  }
  if (o.truth) {
    checkScoringUsage(o);
    return o;
  }
  o.analysis.measureMean = o.lightLeakGuard;
  if (o.clusters) o.analysis.clusterLevel = o.clusterLevel;
  for (const char* scoring : {"--match-frames", "--match-px", "--live-s"}) {
    if (o.given.count(scoring) != 0) throw UsageError(std::string(scoring) + " needs --truth");
  }
  if (o.files.empty()) throw UsageError("no sample file given");
  if (o.width.has_value() != o.height.has_value()) {
    throw UsageError("--width and --height go together");
  }
  if (o.width &&
      std::int64_t{*o.width} * *o.height * FrameBitmap::kBytesPerPixel > FrameBitmap::kMaxBytes) {
    throw UsageError("the frame size is too large");
  }
  if (o.fourcc && *o.fourcc != fourcc::kMjpg && !o.width) {
    throw UsageError("--width and --height are needed unless the samples are Motion-JPEG");
  }
  if (o.all && o.outDir.empty()) throw UsageError("--all needs --out");
  if (!o.outDir.empty()) {
    std::error_code error;
    const auto status = std::filesystem::status(pathFromUtf8(o.outDir), error);
    if (error) throw UsageError("--out " + o.outDir + ": " + error.message());
    if (!std::filesystem::is_directory(status)) {
      throw UsageError("--out " + o.outDir + ": not a directory");
    }
  }
  return o;
}

// A sample's byte count is a signed 32-bit number.
constexpr std::size_t kMaxSampleBytes = std::numeric_limits<std::int32_t>::max();

bool startsLikeJpeg(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= 2 && bytes[0] == 0xff && bytes[1] == 0xd8;
}

// One file's analysis as reported: `counted` is false while the light-leak guard holds.
struct Reported {
  const FrameAnalysis& a;
  bool counted = true;
  bool clusters = false;
  bool event() const { return a.event && counted; }
};

std::string jsonLine(const std::string& file, const Reported& r) {
  const FrameAnalysis& a = r.a;
  std::string s = "{\"file\":";
  appendJsonString(s, file);
  s += ",\"width\":" + std::to_string(a.width) + ",\"height\":" + std::to_string(a.height);
  s += ",\"peak\":{\"x\":" + std::to_string(a.peak.x) + ",\"y\":" + std::to_string(a.peak.y) +
       ",\"r\":" + std::to_string(a.peak.r) + ",\"g\":" + std::to_string(a.peak.g) +
       ",\"b\":" + std::to_string(a.peak.b) + "}";
  s += std::string(",\"event\":") + (r.event() ? "true" : "false");
  s += std::string(",\"converted\":") + (a.converted ? "true" : "false");
  if (a.lensMean) s += ",\"lens_mean\":" + jsonNumber(*a.lensMean);
  if (a.frameMean) {
    s += ",\"frame_mean\":" + jsonFixedNumber(*a.frameMean, 2);
    s += std::string(",\"light_leak\":") + (r.counted ? "false" : "true");
  }
  if (r.clusters) s += ",\"clusters\":" + (r.event() ? clustersJson(a.clusters) : "[]");
  return s + "}";
}

std::string textLine(const std::string& file, const Reported& r) {
  const FrameAnalysis& a = r.a;
  std::string s = file + ": " + std::to_string(a.width) + "x" + std::to_string(a.height) +
                  ", peak at (" + std::to_string(a.peak.x) + ", " + std::to_string(a.peak.y) +
                  ") " + eventColourLine(a.peak.r, a.peak.g, a.peak.b);
  if (!a.converted) s += ", not converted (format notice)";
  s += r.event() ? ", event" : ", no event";
  if (!r.counted) s += " (light leak, mean " + jsonFixedNumber(*a.frameMean, 2) + ")";
  if (r.clusters && r.event()) s += ", " + std::to_string(a.clusters.size()) + " clusters";
  if (a.lensMean) {
    char buf[64];
    std::snprintf(buf, sizeof buf, ", lens mean %.2f%s", *a.lensMean,
                  a.lensUncovered ? " (lens uncovered)" : "");
    s += buf;
  }
  return s;
}

class Analyser {
 public:
  explicit Analyser(const Options& options) : options_(options), guard_(options.lightLeak) {
    if (options_.width) resizeFrame(*options_.width, *options_.height);
  }

  // Returns false when the file could not be analysed or converted (it is reported all the
  // same, showing the format notice) or its picture not written.
  bool analyse(const std::string& path) {
    FileWithTime sample;
    if (const auto error = readFileWithTime(path, kMaxSampleBytes, sample))
      return fail(path, *error);

    std::uint32_t code = 0;
    if (options_.fourcc) {
      code = *options_.fourcc;
    } else if (startsLikeJpeg(sample.bytes)) {
      code = fourcc::kMjpg;
    } else {
      return fail(path, "not a JPEG file; give --fourcc (and --width, --height) for raw samples");
    }
    if (!options_.width) {
      // Motion-JPEG without a given size: the frame takes each picture's own size.
      std::int32_t w = 0, h = 0;
      if (!sizeReader_.readSize(sample.bytes.data(), sample.bytes.size(), w, h) || w <= 0 ||
          h <= 0) {
        return fail(path, "cannot read the JPEG picture size; give --width and --height");
      }
      if (w != frame_.width() || h != frame_.height()) {
        if (!resizeFrame(w, h)) return fail(path, "the JPEG picture is too large");
      }
    }

    // A zero-byte file is still a sample (of no bytes), not the absence of one.
    static const std::uint8_t kNoBytes = 0;
    const std::uint8_t* data = sample.bytes.empty() ? &kNoBytes : sample.bytes.data();
    const ConvertOutcome outcome =
        converter_.ConvertFrame(code, static_cast<std::int32_t>(sample.bytes.size()), data, frame_);
    if (!completed(outcome)) return fail(path, "the conversion failed");

    FrameBitmap work = frame_;
    const FrameAnalysis a = analyseFrame(work, options_.analysis);
    Reported reported{a, true, options_.clusters};
    if (a.frameMean) {
      guard_.observe(*a.frameMean, static_cast<double>(sample.modifiedMs) / 1000.0);
      reported.counted = guard_.counts();
    }
    const std::string line = options_.json ? jsonLine(path, reported) : textLine(path, reported);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    const bool converted = a.converted || fail(path, "not converted (format notice)");
    if (options_.outDir.empty() || !(reported.event() || options_.all)) return converted;
    try {
      pictures_.store(work, options_.outDir + "/", sample.modifiedMs);
    } catch (const ImageWriteError& e) {
      std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
      return false;
    }
    return converted;
  }

 private:
  bool resizeFrame(std::int32_t width, std::int32_t height) {
    if (!frame_.resize(width, height)) return false;
    frame_.fill(0, 0, 0);  // a stream starts black
    frame_.setShowsNotice(false);
    return true;
  }

  static bool fail(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), reason.c_str());
    return false;
  }

  const Options& options_;
  FrameConverter converter_;
  JpegDecoder sizeReader_;
  FrameBitmap frame_;
  EventPictures pictures_;  // named as the monitor names them
  LightLeakGuard guard_;    // with --light-leak-guard
};

int run(const std::vector<std::string>& args) {
  std::optional<Options> options;
  try {
    options = parseArguments(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, e.what(), kProgram);
    return kExitUsage;
  }
  if (!options) {
    std::fputs(withFlagRanges(kUsage).c_str(), stdout);
    return 0;
  }
  if (options->truth) {
    ScoreRequest request{*options->truth, options->files, options->tolerance, options->liveSeconds,
                         options->json};
    return scoreFiles(request) ? 0 : kExitFileError;
  }
  Analyser analyser(*options);
  bool ok = true;
  for (const std::string& file : options->files)
    ok = analyser.analyse(file) && ok;
  return ok ? 0 : kExitFileError;
}

}  // namespace
}  // namespace ravdel

int main(int argc, char** argv) {
  const ravdel::Utf8ConsoleOutput console;
  try {
    const std::vector<std::string> args = ravdel::programArguments(argc, argv);
    return ravdel::run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", ravdel::kProgram, e.what());
    return ravdel::kExitFileError;
  }
}
