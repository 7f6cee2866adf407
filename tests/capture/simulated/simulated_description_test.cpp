#include "capture/simulated/simulated_description.h"

#include <gtest/gtest.h>

namespace ravdel {
namespace {

using Source = SimulatedDescription::Source;

TEST(SimulatedDescriptionTest, ParsesOptionsAndKeepsDefaults) {
  struct Case {
    const char* text;
    Source source;
    SimulatedFormat format;
    double fps;
    std::size_t also;
  };
  const Case cases[] = {
      {"synthetic", Source::Synthetic, {fourcc::kYuy2, 640, 480}, 30.0, 0},
      {" synthetic : format=rgb , size=33X17 ", Source::Synthetic, {fourcc::kRgb, 33, 17}, 30.0, 0},
      {"synthetic:format=YV12,fps=2.5,also=RGB@8x8,also=I420@16x2",
       Source::Synthetic,
       {fourcc::kYv12, 640, 480},
       2.5,
       2},
      {"synthetic,unlimited,also=none", Source::Synthetic, {fourcc::kYuy2, 640, 480}, 0.0, 0},
      {"dir:some/where,fps=unlimited,once", Source::Directory, {fourcc::kYuy2, 640, 480}, 0.0, 0},
      {"synthetic:format=nv21,size=3x5", Source::Synthetic, {fourcc::kNv21, 3, 5}, 30.0, 0},
      {"dir:x,format=Grey,size=4x4", Source::Directory, {fourcc::kGrey, 4, 4}, 30.0, 0},
      // A sample directory may claim a format nothing converts, to show the program's notice.
      {"dir:x,format=Y41P,size=4x4",
       Source::Directory,
       {makeFourCC('Y', '4', '1', 'P'), 4, 4},
       30.0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SimulatedDescription d;
    std::string error;
    ASSERT_TRUE(parseSimulatedDescription(c.text, d, error)) << error;
    EXPECT_EQ(d.source, c.source);
    EXPECT_EQ(d.format, c.format);
    EXPECT_EQ(d.fps, c.fps);
    EXPECT_EQ(d.also.size(), c.also);
  }

  SimulatedDescription d;
  std::string error;
  ASSERT_TRUE(parseSimulatedDescription(
      "synthetic:hits=0.5,brightness=200,noise=0,seed=99,uncovered,unplug-after=10,"
      "empty-every=3,name=Cam = one ",
      d, error))
      << error;
  EXPECT_EQ(d.hitsPerSecond, 0.5);
  EXPECT_EQ(d.brightness, 200);
  EXPECT_EQ(d.noise, 0);
  EXPECT_EQ(d.seed, 99u);
  EXPECT_TRUE(d.uncovered);
  EXPECT_EQ(d.unplugAfter, 10u);
  EXPECT_EQ(d.emptyEvery, 3u);
  EXPECT_EQ(d.name, "Cam = one");
  EXPECT_EQ(d.backAfter.count(), 0);

  // back-after may come before the unplug-after it needs.
  ASSERT_TRUE(parseSimulatedDescription("synthetic,back-after=3600000,unplug-after=1", d, error))
      << error;
  EXPECT_EQ(d.backAfter, std::chrono::hours(1));
}

TEST(SimulatedDescriptionTest, ParsesTheSensorModel) {
  SimulatedDescription d;
  std::string error;
  ASSERT_TRUE(parseSimulatedDescription(
      "synthetic:hot=20,warm=3,warm-share=0.25,noisy-row=7,noisy-column=0,line-noise=90,"
      "leak=120+60.5,leak-level=80,tracks=0.25,long-tracks=0.75,truth=runs/truth.jsonl",
      d, error))
      << error;
  const SensorModel& m = d.sensor;
  EXPECT_EQ(m.hotPixels, 20u);
  EXPECT_EQ(m.warmPixels, 3u);
  EXPECT_EQ(m.warmShare, 0.25);
  EXPECT_EQ(m.noisyRow, 7);
  EXPECT_EQ(m.noisyColumn, 0);
  EXPECT_EQ(m.lineNoise, 90);
  EXPECT_EQ(m.leakAt, 120.0);
  EXPECT_EQ(m.leakFor, 60.5);
  EXPECT_EQ(m.leakLevel, 80);
  EXPECT_EQ(m.trackShare, 0.25);
  EXPECT_EQ(m.longTrackShare, 0.75);
  EXPECT_EQ(d.truthPath, "runs/truth.jsonl");

  // Without the options there are no faults at all.
  ASSERT_TRUE(parseSimulatedDescription("synthetic", d, error));
  EXPECT_EQ(d.sensor.hotPixels + d.sensor.warmPixels, 0u);
  EXPECT_EQ(d.sensor.noisyRow, -1);
  EXPECT_EQ(d.sensor.noisyColumn, -1);
  EXPECT_EQ(d.sensor.leakFor, 0.0);
  EXPECT_EQ(d.sensor.trackShare + d.sensor.longTrackShare, 0.0);
  EXPECT_EQ(d.truthPath, "");

  const struct {
    const char* text;
    const char* message;
  } bad[] = {
      {"dir:x,hot=2", "hot: only for synthetic frames"},
      {"dir:x,truth=t", "truth: only for synthetic frames"},
      {"synthetic,hot=100001", "hot: '100001' is not a pixel count"},
      {"synthetic,warm=-1", "warm: '-1' is not a pixel count"},
      {"synthetic,warm-share=0", "warm-share: '0' is not a share (above 0"},
      {"synthetic,tracks=1.5", "tracks: '1.5' is not a share (0"},
      {"synthetic,tracks=0.6,long-tracks=0.5", "add up to more than 1"},
      {"synthetic,noisy-row=8192", "noisy-row: '8192' is not a row or column"},
      {"synthetic,line-noise=0", "line-noise: '0' is not 1 to 255"},
      {"synthetic,leak=60", "leak: '60' is not START+SECONDS"},
      {"synthetic,leak=60+0", "leak: '60+0' is not START+SECONDS"},
      {"synthetic,leak=-5+10", "leak: '-5+10' is not START+SECONDS"},
      {"synthetic,leak=1+2,leak=3+4", "leak: given twice"},
      {"synthetic,truth=", "truth: needs a value"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.text);
    EXPECT_FALSE(parseSimulatedDescription(c.text, d, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(SimulatedDescriptionTest, RejectsBadTextWithAMessageNamingThePart) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "the description is empty"},
      {"webcam", "unknown source 'webcam'"},
      {"dir:", "dir: needs the path"},
      {"synthetic,,fps=3", "empty option"},
      {"synthetic,colour=red", "colour: unknown option"},
      {"synthetic,fps", "fps: needs a value"},
      {"synthetic,once", "once: only for a directory"},
      {"synthetic,uncovered=yes", "uncovered: takes no value"},
      {"dir:x,hits=2", "hits: only for synthetic frames"},
      {"synthetic,fps=-1", "fps: '-1' is not a frame rate"},
      {"synthetic,fps=nan", "fps: 'nan' is not a frame rate"},
      {"synthetic,fps=1001", "fps: '1001' is not a frame rate"},
      {"synthetic,fps=1e-300", "fps: '1e-300' is not a frame rate"},
      {"synthetic,fps=5,unlimited", "unlimited: repeats fps"},
      {"synthetic,size=640", "size: '640' is not WIDTHxHEIGHT"},
      {"synthetic,size=0x480", "size: '0x480' is not WIDTHxHEIGHT"},
      {"synthetic,size=8193x2", "size: '8193x2' is not WIDTHxHEIGHT"},
      {"synthetic,size=64x48garbage", "size: '64x48garbage' is not"},
      {"synthetic,format=MJPG", "format: MJPG frames come only from sample files"},
      {"synthetic,format=Y41P", "format: 'Y41P' is not a format (RGB, I420, IYUV, YV12, NV12"},
      {"dir:x,format=YUY22", "format: 'YUY22' is not a format"},
      {"synthetic,also=I420", "also: 'I420' is not FORMAT@WIDTHxHEIGHT"},
      {"synthetic,also=MJPG@8x8", "also: MJPG frames come only from sample files"},
      {"synthetic,brightness=0", "brightness: '0' is not 1 to 255"},
      {"synthetic,noise=65", "noise: '65' is not 0 to 64"},
      {"synthetic,seed=0x10", "seed: '0x10' is not a whole number"},
      {"synthetic,unplug-after=0", "unplug-after: '0' is not a frame count"},
      {"synthetic,empty-every=99999999999999999999", "empty-every: '99999999999999999999' is not"},
      {"synthetic,name= ", "name: needs a value"},
      {"synthetic,unplug-after=5,back-after=0", "back-after: '0' is not a time in milliseconds"},
      {"synthetic,unplug-after=5,back-after=3600001", "back-after: '3600001' is not a time"},
      {"synthetic,unplug-after=5,back-after=1.5", "back-after: '1.5' is not a time"},
      {"synthetic,unplug-after=5,back-after=-50", "back-after: '-50' is not a time"},
      {"synthetic,back-after=50", "back-after: needs unplug-after"},
      {"dir:x,back-after=50,once", "back-after: needs unplug-after"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SimulatedDescription d;
    d.name = "untouched";
    std::string error;
    EXPECT_FALSE(parseSimulatedDescription(c.text, d, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(d.name, "untouched");
  }
}

}  // namespace
}  // namespace ravdel
