#include "capture/directshow/media_format.h"

#include <dvdmedia.h>
#include <gtest/gtest.h>

#include <vector>

#include "base/fourcc.h"

namespace ravdel::dshow {
namespace {

// A media type over a format block of either kind, the block kept by the test.
struct Block {
  explicit Block(bool videoInfo2)
      : bytes(videoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER)) {
    type.majortype = MEDIATYPE_Video;
    type.formattype = videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    type.cbFormat = static_cast<ULONG>(bytes.size());
    type.pbFormat = bytes.data();
  }
  BITMAPINFOHEADER& header() {
    return IsEqualGUID(type.formattype, FORMAT_VideoInfo2)
               ? reinterpret_cast<VIDEOINFOHEADER2*>(bytes.data())->bmiHeader
               : reinterpret_cast<VIDEOINFOHEADER*>(bytes.data())->bmiHeader;
  }
  RECT& target() { return reinterpret_cast<VIDEOINFOHEADER*>(bytes.data())->rcTarget; }

  std::vector<BYTE> bytes;
  AM_MEDIA_TYPE type{};
};

TEST(MediaFormatTest, PictureSizeCodeAndStrideFromEitherBlock) {
  const struct {
    const char* name;
    bool videoInfo2;
    std::uint32_t compression;
    LONG width, height;
    RECT target;
    DWORD sizeImage;
    std::int32_t pictureWidth, pictureHeight;
    FrameLayout layout;
  } cases[] = {
      {"YUY2, plain",
       false,
       fourcc::kYuy2,
       640,
       480,
       {},
       614400,
       640,
       480,
       {fourcc::kYuy2, 640, 480, 1280}},
      {"YUY2 twin in a VIDEOINFOHEADER2",
       true,
       fourcc::kYuy2,
       640,
       480,
       {},
       0,
       640,
       480,
       {fourcc::kYuy2, 640, 480, 1280}},
      {"NV12 with biWidth the stride, the picture in rcTarget",
       false,
       fourcc::kNv12,
       704,
       480,
       {0, 0, 640, 480},
       0,
       640,
       480,
       {fourcc::kNv12, 640, 480, 704}},
      {"YUY2 rows padded as biSizeImage says",
       true,
       fourcc::kYuy2,
       640,
       480,
       {},
       1344 * 480,
       640,
       480,
       {fourcc::kYuy2, 640, 480, 1344}},
      {"I420 planes padded as biSizeImage says",
       false,
       fourcc::kI420,
       176,
       144,
       {},
       192 * 144 * 3 / 2,
       176,
       144,
       {fourcc::kI420, 176, 144, 192}},
      {"a buffer merely larger than the frame keeps the stride",
       false,
       fourcc::kYuy2,
       640,
       480,
       {},
       614400 + 4096,
       640,
       480,
       {fourcc::kYuy2, 640, 480, 1280}},
      {"RGB rows end on four bytes, bottom row first",
       false,
       BI_RGB,
       3,
       2,
       {},
       0,
       3,
       2,
       {fourcc::kRgb, 3, 2, 12}},
      {"RGB top row first", false, BI_RGB, 4, -2, {}, 0, 4, 2, {fourcc::kRgb, 4, 2, 12, true}},
      {"a target off the corner is not the picture",
       false,
       fourcc::kYuy2,
       640,
       480,
       {8, 8, 600, 400},
       0,
       640,
       480,
       {fourcc::kYuy2, 640, 480, 1280}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Block block(c.videoInfo2);
    block.header().biSize = sizeof(BITMAPINFOHEADER);
    block.header().biWidth = c.width;
    block.header().biHeight = c.height;
    block.header().biBitCount = c.compression == BI_RGB ? 24 : 16;
    block.header().biCompression = c.compression;
    block.header().biSizeImage = c.sizeImage;
    block.target() = c.target;
    const std::optional<MediaFormat> format = mediaFormatOf(block.type);
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->width, c.pictureWidth);
    EXPECT_EQ(format->height, c.pictureHeight);
    EXPECT_EQ(format->compression, c.compression);
    EXPECT_EQ(format->layout.code, c.layout.code);
    EXPECT_EQ(format->layout.width, c.layout.width);
    EXPECT_EQ(format->layout.height, c.layout.height);
    EXPECT_EQ(format->layout.stride, c.layout.stride);
    EXPECT_EQ(format->layout.topDown, c.layout.topDown);
  }
}

TEST(MediaFormatTest, OtherBlocksAndShortOnesDescribeNothing) {
  Block shortBlock(true);
  shortBlock.type.cbFormat = sizeof(VIDEOINFOHEADER);  // too short for a VIDEOINFOHEADER2
  EXPECT_FALSE(mediaFormatOf(shortBlock.type).has_value());
  Block other(false);
  other.type.formattype = FORMAT_WaveFormatEx;
  EXPECT_FALSE(mediaFormatOf(other.type).has_value());
  Block empty(false);
  empty.type.pbFormat = nullptr;
  EXPECT_FALSE(mediaFormatOf(empty.type).has_value());

  Block rgb32(false);  // uncompressed, but not the 24 bits the converter takes: no layout
  rgb32.header().biWidth = 4;
  rgb32.header().biHeight = 2;
  rgb32.header().biBitCount = 32;
  const std::optional<MediaFormat> format = mediaFormatOf(rgb32.type);
  ASSERT_TRUE(format.has_value());
  EXPECT_EQ(FramePacker::packedBytes(format->layout), 0u);
}

TEST(MediaFormatTest, TheFrameIntervalIsSetInEitherBlock) {
  for (const bool videoInfo2 : {false, true}) {
    Block block(videoInfo2);
    EXPECT_TRUE(setFrameInterval(block.type, 333333));
    block.header().biWidth = 2;
    block.header().biHeight = 2;
    EXPECT_EQ(mediaFormatOf(block.type)->frameInterval, 333333);
  }
}

}  // namespace
}  // namespace ravdel::dshow
