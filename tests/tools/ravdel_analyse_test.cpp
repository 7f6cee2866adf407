// Runs the real ravdel-analyse binary on samples written here and checks what it prints,
// writes and returns.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/frame_bitmap.h"
#include "support/jpeg_encode.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Args = std::vector<std::string>;
// A parsed output line, flattened: "peak.x" -> "5", strings unescaped, "true"/"false".
using JsonLine = std::map<std::string, std::string>;

// Parses one line of the tool's JSON (objects of strings, numbers and booleans); throws on
// anything malformed, including raw control characters and trailing text.
class JsonParser {
 public:
  static JsonLine parse(const std::string& text) {
    JsonParser p{text};
    JsonLine out;
    p.object("", out);
    if (p.pos_ != text.size()) p.fail();
    return out;
  }

 private:
  explicit JsonParser(const std::string& text) : t_(text) {}
  [[noreturn]] void fail() const {
    throw std::runtime_error("bad JSON at " + std::to_string(pos_) + ": " + t_);
  }
  char next() { return pos_ < t_.size() ? t_[pos_++] : (fail(), '\0'); }
  void expect(char c) {
    if (next() != c) fail();
  }
  void object(const std::string& prefix, JsonLine& out) {
    expect('{');
    for (bool first = true; t_.at(pos_) != '}'; first = false) {
      if (!first) expect(',');
      const std::string key = prefix + string();
      expect(':');
      if (out.count(key) != 0) fail();
      if (t_.at(pos_) == '{') {
        object(key + ".", out);
      } else if (t_.at(pos_) == '"') {
        out[key] = string();
      } else {
        const std::size_t end = t_.find_first_of(",}", pos_);
        out[key] = t_.substr(pos_, end - pos_);
        pos_ = end;
      }
    }
    expect('}');
  }
  std::string string() {
    expect('"');
    std::string s;
    for (char c = next(); c != '"'; c = next()) {
      if (static_cast<unsigned char>(c) < 0x20) fail();
      if (c == '\\') {
        const std::string escapes = "\"\"\\\\//b\bf\fn\nr\rt\t";
        c = next();
        if (c == 'u') {  // the tool escapes only control characters and U+FFFD this way
          const auto cp = std::stoul(t_.substr(pos_, 4), nullptr, 16);
          pos_ += 4;
          s += cp == 0xfffd ? "\xef\xbf\xbd" : std::string(1, static_cast<char>(cp));
          continue;
        }
        const auto at = escapes.find(c);
        if (at == std::string::npos || at % 2 != 0) fail();
        c = escapes[at + 1];
      }
      s += c;
    }
    return s;
  }

  const std::string& t_;
  std::size_t pos_ = 0;
};

// A YUY2 frame of one grey level (16 is black) with one white pixel.
Bytes yuy2Frame(int w, int h, int x, int y, std::uint8_t luma = 16) {
  Bytes b(static_cast<std::size_t>(w * h * 2), 128);
  for (std::size_t i = 0; i < b.size(); i += 2)
    b[i] = luma;
  b[static_cast<std::size_t>((y * w + x) * 2)] = 235;
  return b;
}

Bytes i420Frame(int w, int h, int x, int y) {
  Bytes b(static_cast<std::size_t>(w * h * 3 / 2), 128);
  std::fill(b.begin(), b.begin() + w * h, 16);
  b[static_cast<std::size_t>(y * w + x)] = 235;
  return b;
}

// Bottom-up rows: the sample's first row is the picture's bottom row.
Bytes rgbFrame(int w, int h, int firstRowX) {
  Bytes b(static_cast<std::size_t>(w * h * 3), 0);
  b[static_cast<std::size_t>(firstRowX * 3 + 2)] = 250;
  return b;
}

// A dark JPEG with a bright 8x8 square on block boundaries.
Bytes jpegFrame(int w, int h, int squareX, int squareY) {
  FrameBitmap picture(w, h);
  picture.fill(10, 10, 10);
  for (int y = squareY; y < std::min(squareY + 8, h); ++y) {
    for (int x = squareX; x < std::min(squareX + 8, w); ++x) {
      std::fill_n(picture.row(y) + x * 3, 3, std::uint8_t{240});
    }
  }
  return test::encodeJpeg(picture, {.quality = 95});
}

Args split(const std::string& words) {
  Args out;
  std::istringstream in(words);
  for (std::string w; in >> w;)
    out.push_back(w);
  return out;
}

struct ToolRun {
  int status = -1;
  std::string out, err;
  std::vector<JsonLine> json() const {
    std::vector<JsonLine> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
      lines.push_back(JsonParser::parse(line));
    return lines;
  }
};

class AnalyseTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ravdel-analyse-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "out");
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path write(const std::string& name, const Bytes& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return dir_ / name;
  }

  static void setModified(const fs::path& path, std::time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }

  // Runs the tool in the test directory, in UTC, without a shell so any file name passes.
  ToolRun run(Args args) const {
    const fs::path outFile = dir_ / ".stdout", errFile = dir_ / ".stderr";
    std::vector<char*> argv{const_cast<char*>(RAVDEL_ANALYSE_PATH)};
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0 && err >= 0 && dup2(out, 1) >= 0 && dup2(err, 2) >= 0 &&
          chdir(dir_.c_str()) == 0 && setenv("TZ", "UTC", 1) == 0) {
        execv(argv[0], argv.data());
      }
      _exit(127);
    }
    ToolRun r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      r.status = WEXITSTATUS(status);
    std::stringstream out, err;
    out << std::ifstream(outFile).rdbuf();
    err << std::ifstream(errFile).rdbuf();
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  std::vector<std::string> written() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "out"))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(AnalyseTool, ConvertsAndAnalysesEachFormat) {
  struct Case {
    std::string file;
    Bytes bytes;
    std::string args;
    int width, height;
    int x0, y0, x1, y1;  // the peak lies in this box; none for the notice
    bool event, converted;
  };
  const std::string yuy2 = "--fourcc YUY2 --width 8 --height 6";
  const Case cases[] = {
      {"bright.yuy2", yuy2Frame(8, 6, 5, 3), yuy2, 8, 6, 5, 3, 5, 3, true, true},
      {"dim.yuy2", yuy2Frame(8, 6, 5, 3), yuy2 + " --limit 255", 8, 6, 5, 3, 5, 3, false, true},
      {"frame.i420", i420Frame(10, 4, 9, 1), "--fourcc I420 --width 10 --height 4", 10, 4, 9, 1, 9,
       1, true, true},
      // With neutral chroma an I420 frame's bytes are an NV12 frame too.
      {"frame.nv12", i420Frame(9, 5, 8, 4), "--fourcc NV12 --width 9 --height 5", 9, 5, 8, 4, 8, 4,
       true, true},
      {"short.nv12", Bytes(9 * 5 * 3 / 2 - 1, 16), "--fourcc NV12 --width 9 --height 5", 9, 5, -1,
       -1, -1, -1, false, false},
      {"frame.rgb", rgbFrame(4, 3, 1), "--fourcc 0 --width=4 --height=3", 4, 3, 1, 2, 1, 2, true,
       true},
      {"short.yuy2", Bytes(8 * 6 * 2 - 1, 16), yuy2, 8, 6, -1, -1, -1, -1, false, false},
      {"empty.yuy2", Bytes(), yuy2, 8, 6, -1, -1, -1, -1, false, false},
      {"frame.h264", Bytes(96, 0), "--fourcc H264 --width 8 --height 6", 8, 6, -1, -1, -1, -1,
       false, false},
      // A JPEG file needs no options: format and size come from the file.
      {"photo.jpg", jpegFrame(32, 24, 16, 8), "", 32, 24, 16, 8, 23, 15, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    write(c.file, c.bytes);
    Args args = split(c.args + " --json");
    args.push_back(c.file);
    const ToolRun r = run(args);
    // A sample shown as the format notice is reported and makes the status 1, as for scripts.
    ASSERT_EQ(r.status, c.converted ? 0 : 1) << r.err;
    EXPECT_EQ(r.err.find("not converted") != std::string::npos, !c.converted) << r.err;
    const std::vector<JsonLine> lines = r.json();
    ASSERT_EQ(lines.size(), 1u);
    JsonLine j = lines[0];
    EXPECT_EQ(j["file"], c.file);
    EXPECT_EQ(j["width"], std::to_string(c.width));
    EXPECT_EQ(j["height"], std::to_string(c.height));
    EXPECT_EQ(j["event"], c.event ? "true" : "false");
    EXPECT_EQ(j["converted"], c.converted ? "true" : "false");
    EXPECT_EQ(j.count("lens_mean"), 0u);
    if (c.x0 < 0) continue;
    const int x = std::stoi(j["peak.x"]), y = std::stoi(j["peak.y"]);
    EXPECT_TRUE(x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1) << x << "," << y;
    EXPECT_GE(std::stoi(j["peak.r"]), 230);
  }
}

TEST_F(AnalyseTool, ReusesTheFrameFromFileToFileLikeAStream) {
  // The second picture is smaller than the frame: the first one's bright corner stays.
  write("1.jpg", jpegFrame(32, 24, 24, 16));
  write("2.jpg", jpegFrame(16, 8, 16, 8));  // no square inside
  const ToolRun r = run(split("--json --fourcc MJPG --width 32 --height 24 1.jpg 2.jpg"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<JsonLine> lines = r.json();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_GE(std::stoi(lines[1]["peak.x"]), 24);
  EXPECT_GE(std::stoi(lines[1]["peak.y"]), 16);
}

TEST_F(AnalyseTool, EscapesFileNamesInJson) {
  const std::string name = "q\"b\\n\nt\tc\x01 \xc3\xa9 \xff.yuy2";
  write(name, yuy2Frame(8, 6, 0, 0));
  Args args = split("--json --fourcc YUY2 --width 8 --height 6");
  args.push_back(name);
  const ToolRun r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.json().size(), 1u);
  // A byte that is not UTF-8 becomes U+FFFD; everything else comes back as it was.
  EXPECT_EQ(r.json()[0]["file"], "q\"b\\n\nt\tc\x01 \xc3\xa9 \xef\xbf\xbd.yuy2");
}

TEST_F(AnalyseTool, ReportsTheLensMeanOnlyWhenAsked) {
  write("dark.yuy2", yuy2Frame(8, 6, 5, 3));
  write("open.yuy2", yuy2Frame(8, 6, 5, 3, 235));
  const ToolRun r =
      run(split("--json --lens-check --fourcc YUY2 --width 8 --height 6 dark.yuy2 open.yuy2"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<JsonLine> lines = r.json();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NEAR(std::stod(lines[0]["lens_mean"]), 441.673 / 48, 1e-3);  // one white pixel of 48
  EXPECT_EQ(lines[0]["event"], "true");
  EXPECT_NEAR(std::stod(lines[1]["lens_mean"]), 441.673, 1e-3);
  EXPECT_EQ(lines[1]["event"], "false");  // an uncovered lens stops before any event
}

// By the files' times: a bright frame is no event, a second of them pauses, two seconds of
// dark frames resume.
TEST_F(AnalyseTool, LightLeakGuardHoldsEventsWhileTheFramesAreBright) {
  const std::time_t start = 1'700'000'000;
  const struct {
    const char* name;
    std::time_t at;
    std::uint8_t luma;
    const char* leak;
    const char* event;
  } files[] = {
      {"1.yuy2", 0, 16, "false", "true"},  {"2.yuy2", 1, 120, "true", "false"},
      {"3.yuy2", 2, 120, "true", "false"}, {"4.yuy2", 3, 16, "true", "false"},
      {"5.yuy2", 5, 16, "false", "true"},
  };
  Args args = split("--json --light-leak-guard --fourcc YUY2 --width 8 --height 6");
  for (const auto& f : files) {
    setModified(write(f.name, yuy2Frame(8, 6, 5, 3, f.luma)), start + f.at, 0);
    args.push_back(f.name);
  }
  const ToolRun r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<JsonLine> lines = r.json();
  ASSERT_EQ(lines.size(), std::size(files));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(files[i].name);
    EXPECT_EQ(lines[i].at("light_leak"), files[i].leak);
    EXPECT_EQ(lines[i].at("event"), files[i].event);
  }

  write("dark.yuy2", Bytes(8 * 6 * 2, 16));
  const ToolRun clusters =
      run(split("--json --clusters --fourcc YUY2 --width 8 --height 6 1.yuy2 dark.yuy2"));
  ASSERT_EQ(clusters.status, 0) << clusters.err;
  EXPECT_NE(
      clusters.out.find(
          R"("clusters":[{"x":5,"y":3,"size":1,"sum":255,"length":1.00,"elongation":1.00}]})"),
      std::string::npos)
      << clusters.out;
  EXPECT_NE(clusters.out.find(R"("event":false,"converted":true,"clusters":[]})"),
            std::string::npos)
      << "a frame that is no event has none";
}

TEST_F(AnalyseTool, ReportsUnreadableFilesAndCarriesOn) {
  write("good.yuy2", yuy2Frame(8, 6, 1, 1));
  fs::create_directory(dir_ / "folder");
  const ToolRun r = run(split("--fourcc YUY2 --width 8 --height 6 missing.yuy2 folder good.yuy2"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.yuy2: No such file or directory"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("folder: Is a directory"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "good.yuy2: 8x6, peak at (1, 1) R:255 G:255 B:255, event\n");
}

TEST_F(AnalyseTool, RejectsBadUsage) {
  write("f", yuy2Frame(8, 6, 0, 0));
  for (const char* args : {"", "--limit 256 f", "--limit -1 f", "--limit 1x f", "f --limit",
                           "--fourcc YUY2X --width 8 --height 6 f", "--fourcc YUY2 f",
                           "--width 8 f", "--width 0 --height 6 f", "--all f", "--out nowhere f",
                           "--out f f", "--json=yes f", "--frobnicate f"}) {
    const ToolRun r = run(split(args));
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_NE(r.err, "") << args;
  }
  const ToolRun help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--fourcc"), std::string::npos);
}

// The picture as rows of red, green, blue; empty when unreadable.
Bytes readPng(const fs::path& path, int expectedWidth, int expectedHeight) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return {};
  image.format = PNG_FORMAT_RGB;
  Bytes rgb(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0 ||
      image.width != static_cast<png_uint_32>(expectedWidth) ||
      image.height != static_cast<png_uint_32>(expectedHeight)) {
    return {};
  }
  return rgb;
}

TEST_F(AnalyseTool, WritesEventPicturesNamedAfterTheSampleTime) {
  std::tm tm{};
  tm.tm_year = 2015 - 1900, tm.tm_mon = 2, tm.tm_mday = 14;
  tm.tm_hour = 9, tm.tm_min = 26, tm.tm_sec = 53;
  const std::time_t recorded = timegm(&tm);
  // Two events of the same millisecond must not overwrite each other; a dark frame is none.
  setModified(write("a.yuy2", yuy2Frame(8, 6, 5, 3)), recorded, 123'456'789);
  setModified(write("b.yuy2", yuy2Frame(8, 6, 5, 3)), recorded, 123'000'000);
  setModified(write("dark.yuy2", Bytes(8 * 6 * 2, 16)), recorded + 60, 0);
  const std::string base = "--fourcc YUY2 --width 8 --height 6 --out out ";
  const std::string files = " a.yuy2 b.yuy2 dark.yuy2";

  ToolRun r = run(split(base + files));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(written(), split("150314092653123.png 150314092653124.png"));
  Bytes rgb = readPng(dir_ / "out" / "150314092653123.png", 8, 6);
  ASSERT_FALSE(rgb.empty());
  EXPECT_EQ(rgb[(3 * 8 + 5) * 3], 255);

  // --all writes every frame; the picture is the one after the display options.
  fs::remove_all(dir_ / "out");
  fs::create_directory(dir_ / "out");
  r = run(split(base + "--all --inverse" + files));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(written(), split("150314092653123.png 150314092653124.png 150314092753000.png"));
  rgb = readPng(dir_ / "out" / "150314092653123.png", 8, 6);
  ASSERT_FALSE(rgb.empty());
  EXPECT_EQ(rgb[(3 * 8 + 5) * 3], 0);
  EXPECT_EQ(rgb[0], 255);
}

// A name taken by a file of an earlier run (or a folder) moves on, as in the monitor; a
// folder that cannot take the picture is a failure.
TEST_F(AnalyseTool, NeverReplacesAFileAndReportsAFailedPictureWrite) {
  setModified(write("a.yuy2", yuy2Frame(8, 6, 5, 3)), 1426325213, 5'000'000);
  fs::create_directory(dir_ / "out" / "150314092653005.png");
  const std::string args = "--fourcc YUY2 --width 8 --height 6 --out out a.yuy2";
  ToolRun r = run(split(args));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "out" / "150314092653006.png"));
  r = run(split(args));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "out" / "150314092653007.png")) << "a second run adds";

  // A folder that takes no files, not even root's.
  r = run(split("--fourcc YUY2 --width 8 --height 6 --out /proc a.yuy2"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot create file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("150314092653005.png"), std::string::npos) << r.err;
}

// The monitor's event log line for an event at `frame` with the peak at (x, y).
std::string eventLine(int frame, int x, int y, double live) {
  return "{\"time\":\"2026-12-08T09:26:53.123+01:00\",\"unix_ms\":1,\"file\":null,\"x\":" +
         std::to_string(x) + ",\"y\":" + std::to_string(y) +
         ",\"r\":255,\"g\":200,\"b\":180,\"limit\":150,\"width\":64,\"height\":48,"
         "\"fourcc\":\"YUY2\",\"camera\":\"Cam, \\\"one\\\"\",\"frame\":" +
         std::to_string(frame) + ",\"lens_mean\":null,\"live_s\":" + std::to_string(live) + "}\n";
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST_F(AnalyseTool, ScoresAnEventLogAgainstTheTruth) {
  write("truth.jsonl",
        text("{\"frame\":10,\"t_s\":0.3,\"x\":5,\"y\":5,\"shape\":\"spot\",\"peak\":230,"
             "\"x0\":4,\"y0\":4,\"x1\":6,\"y1\":6}\n"
             "{\"frame\":40,\"x\":20,\"y\":30}\n"  // a place without a box
             "\n"
             "{\"frame\":70,\"x\":2,\"y\":2,\"shape\":\"track\",\"x0\":2,\"y0\":2,\"x1\":9,"
             "\"y1\":4}\n"));
  // Found: the first (two frames late) and the track (its far end); missed: the second; the
  // hot pixel at (60, 1) is false three times.
  write("events.jsonl",
        text(eventLine(3, 60, 1, 0.1) + eventLine(12, 5, 5, 0.4) + eventLine(50, 60, 1, 1.6) +
             eventLine(70, 9, 4, 2.3) + eventLine(90, 60, 1, 3.0)));
  ToolRun r = run(split("--truth truth.jsonl --json events.jsonl"));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.json().size(), 1u);
  JsonLine j = r.json()[0];
  EXPECT_EQ(j["hits"], "3");
  EXPECT_EQ(j["events"], "5");
  EXPECT_EQ(j["found"], "2");
  EXPECT_EQ(j["missed"], "1");
  EXPECT_EQ(j["false_events"], "3");
  EXPECT_EQ(j["precision"], "0.4");
  EXPECT_NEAR(std::stod(j["recall"]), 2.0 / 3, 1e-9);
  EXPECT_EQ(j["false_per_hour"], "3600");  // 3 in the last event's 3 s
  EXPECT_EQ(j["live_s"], "3.000");

  // Tighter matching loses the late event; the live time given wins.
  r = run(split("--truth truth.jsonl --match-frames 1 --live-s 3600 events.jsonl"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "hits 3, found 1, missed 2, events 5, false events 4, precision 0.200, recall 0.333, "
            "false events per hour 4.0 (live 3600.0 s)\n");

  // No events: nothing to be precise about.
  write("none.jsonl", Bytes());
  r = run(split("--truth truth.jsonl --json none.jsonl"));
  ASSERT_EQ(r.status, 0) << r.err;
  j = r.json().at(0);
  EXPECT_EQ(j["precision"], "null");
  EXPECT_EQ(j["recall"], "0");
  EXPECT_EQ(j["false_per_hour"], "null");
}

TEST_F(AnalyseTool, ScoringRefusesWhatItCannotRead) {
  write("truth.jsonl", text("{\"frame\":10,\"x\":5,\"y\":5}\n"));
  write("events.jsonl", text(eventLine(10, 5, 5, 1.0)));
  write("cut.jsonl", text(eventLine(10, 5, 5, 1.0) + "{\"frame\":11,\"x\":"));
  write("nox.jsonl", text("{\"frame\":11,\"y\":3}\n"));
  const struct {
    const char* args;
    int status;
    const char* message;
  } cases[] = {
      {"--truth missing.jsonl events.jsonl", 1, "missing.jsonl: cannot read the truth file"},
      {"--truth truth.jsonl events.jsonl missing.jsonl", 1, "missing.jsonl: cannot read"},
      {"--truth truth.jsonl cut.jsonl", 1, "cut.jsonl:2: not a line of this event log"},
      {"--truth truth.jsonl nox.jsonl", 1, "nox.jsonl:1: not a line"},
      {"--truth events.jsonl truth.jsonl", 0, ""},  // an event line names a place too
      {"--truth truth.jsonl", 2, "--truth needs an event log"},
      {"--truth truth.jsonl --limit 9 events.jsonl", 2, "--limit does not apply when scoring"},
      {"--truth truth.jsonl --out out events.jsonl", 2, "--out does not apply"},
      {"--match-px 2 events.jsonl", 2, "--match-px needs --truth"},
      {"--truth truth.jsonl --match-frames -1 events.jsonl", 2, "--match-frames needs a number"},
      {"--truth truth.jsonl --live-s nan events.jsonl", 2, "--live-s needs a number of seconds"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = run(split(c.args));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace ravdel
