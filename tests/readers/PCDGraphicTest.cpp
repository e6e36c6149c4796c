#include "readers/PCDGraphic.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected PCD image format.";

using TPlaneValue = std::function<std::uint8_t(int x, int y)>;

// An image pac whose 768 by 512 picture has the given luma and (half-size) chroma values.
// Neutral chroma is 156 (chroma 1) and 137 (chroma 2).
std::string ImagePac(std::uint8_t rotation, const TPlaneValue& luma, const TPlaneValue& chroma1 = {},
                     const TPlaneValue& chroma2 = {}) {
  std::string file(96 * 2048, '\0');
  file.replace(2048, 7, "PCD_IPI");
  file[3586] = static_cast<char>(rotation);
  for (int pair = 0; pair < 256; ++pair) {
    for (int y = 2 * pair; y < 2 * pair + 2; ++y)
      for (int x = 0; x < 768; ++x) file += static_cast<char>(luma(x, y));
    for (int x = 0; x < 384; ++x) file += static_cast<char>(chroma1 ? chroma1(x, pair) : 156);
    for (int x = 0; x < 384; ++x) file += static_cast<char>(chroma2 ? chroma2(x, pair) : 137);
  }
  return file;
}

std::uint8_t Pattern(int x, int y) { return static_cast<std::uint8_t>(x * 7 + y * 3); }

TColor Grey(std::uint8_t level) { return RGBColor(level, level, level); }

TEST(PCDGraphicTest, EnlargingAPlaneAveragesBetweenItsPixels) {
  // Rows 4 bytes apart: 10 20 and 30 40.
  std::uint8_t stored[16] = {10, 20, 0, 0, 30, 40, 0, 0};
  EnlargePlane(stored, 2, 2, 4);
  const std::uint8_t expected[16] = {10, 15, 20, 20, 20, 25, 30, 30, 30, 35, 40, 40, 30, 35, 40, 40};
  EXPECT_TRUE(std::equal(stored, stored + 16, expected));
}

TEST(PCDGraphicTest, ImageMagicksFilesShowTheirPicturesUprightInCloseColours) {
  // ImageMagick turns a portrait picture a quarter and stores rotation code 1. Its decode
  // converts PhotoYCC with other factors than this reader, up to 29 levels apart; measured at
  // the centres of the source's 13 by 7 blocks.
  for (const char* name : {"landscape", "portrait"}) {
    SCOPED_TRACE(name);
    TPCDGraphic pcd;
    pcd.LoadFile(testing::DataFile(std::string("pcd/") + name + ".pcd"));
    const bool portrait = name[0] == 'p';
    EXPECT_EQ(pcd.Width(), portrait ? 512 : 768);
    EXPECT_EQ(pcd.Height(), portrait ? 768 : 512);
    EXPECT_EQ(pcd.PixelFormat(), pd24Bit);
    const std::string expected = ReadData(std::string("pcd/") + name + "-centres.rgb");
    for (int block = 0; block < 91; ++block) {
      const int x = (2 * (block % 13) + 1) * pcd.Width() / 26, y = (2 * (block / 13) + 1) * pcd.Height() / 14;
      const TColor color = pcd.Pixel(x, y);
      const std::uint8_t ours[3] = {RedOf(color), GreenOf(color), BlueOf(color)};
      for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(ours[c] - static_cast<unsigned char>(expected[3 * block + c])), 32) << block << "/" << c;
    }
  }
}

TEST(PCDGraphicTest, PhotoYCCBecomesColourByTheLumaAndChromaTables) {
  // Neutral chroma leaves the luma as grey. Chroma 2 ten above neutral adds round(1.575 × 10)
  // to red and takes round(0.4678 × 10) from green; chroma 1 ten above adds round(1.8558 ×
  // 10) to blue and takes round(0.1870 × 10) from green (luma weights 0.2125, 0.7154,
  // 0.0721). Chroma is enlarged: between a raised and a neutral pixel it is raised by 5.
  TPCDGraphic pcd;
  ASSERT_EQ(LoadBytes(pcd, ImagePac(0, [](int, int) { return 100; }, [](int x, int) { return x == 0 ? 166 : 156; },
                                    [](int x, int) { return x == 2 ? 147 : 137; })),
            "loaded");
  EXPECT_EQ(pcd.Pixel(0, 0), RGBColor(100, 98, 119));
  EXPECT_EQ(pcd.Pixel(1, 0), RGBColor(100, 99, 109));  // chroma 1 five above: blue + round(9.28)
  EXPECT_EQ(pcd.Pixel(4, 7), RGBColor(116, 95, 100));
  EXPECT_EQ(pcd.Pixel(3, 7), RGBColor(108, 98, 100));  // chroma 2 five above: red + round(7.875)
  EXPECT_EQ(pcd.Pixel(10, 10), Grey(100));
}

TEST(PCDGraphicTest, RotationCodesTurnThePictureUpright) {
  for (std::uint8_t rotation = 0; rotation < 4; ++rotation) {
    SCOPED_TRACE(static_cast<int>(rotation));
    TPCDGraphic pcd;
    ASSERT_EQ(LoadBytes(pcd, ImagePac(static_cast<std::uint8_t>(rotation | 0xFC), Pattern)), "loaded");
    EXPECT_EQ(pcd.ImageProperties().Orientation, rotation);
    const bool turned = rotation == 1 || rotation == 3;
    ASSERT_EQ(pcd.Width(), turned ? 512 : 768);
    ASSERT_EQ(pcd.Height(), turned ? 768 : 512);
    for (int i : {0, 1, 200, 511}) {
      switch (rotation) {
        case 1:  // the top row holds the stored picture's last column, read from its top
          EXPECT_EQ(pcd.Pixel(i, 0), Grey(Pattern(767, i)));
          EXPECT_EQ(pcd.Pixel(0, i), Grey(Pattern(767 - i, 0)));
          break;
        case 3:  // the top row holds its first column, read from its bottom
          EXPECT_EQ(pcd.Pixel(i, 0), Grey(Pattern(0, 511 - i)));
          EXPECT_EQ(pcd.Pixel(511, i), Grey(Pattern(i, 0)));
          break;
        default:  // a picture stored upside down is shown as stored
          EXPECT_EQ(pcd.Pixel(i, i % 512), Grey(Pattern(i, i % 512)));
          break;
      }
    }
  }
}

TEST(PCDGraphicTest, PropertiesFollowTheRequestedResolution) {
  TMemoryStream stream;
  stream.WriteText(ImagePac(1, Pattern).substr(0, 7000));
  stream.SetPosition(0);
  EXPECT_TRUE(TPCDGraphic::CanReadStream(stream));
  EXPECT_EQ(stream.Position(), 0);
  TPCDGraphic pcd;
  ASSERT_TRUE(pcd.ReadProperties(stream, 4));
  EXPECT_EQ(pcd.ImageProperties().Width, 2048u);  // turned: 1536 by 2048 becomes 2048 by 3072
  EXPECT_EQ(pcd.ImageProperties().Height, 3072u);
  EXPECT_EQ(pcd.ImageProperties().Compression, cpPCDHuffman);
  EXPECT_EQ(pcd.ImageProperties().ColorScheme, cmPhotoYCC);
  stream.SetPosition(0);
  ASSERT_TRUE(pcd.ReadProperties(stream, 9));
  EXPECT_EQ(pcd.ImageProperties().Height, 6144u);
}

TEST(PCDGraphicTest, AnOverviewFileShowsItsFirstThumbnail) {
  std::string file = "PCD_OPA" + std::string(5 * 2048 - 7, '\0');
  for (int pair = 0; pair < 64; ++pair)
    file += std::string(2 * 192, static_cast<char>(pair)) + std::string(96, '\x9C') + std::string(96, '\x89');
  TPCDGraphic pcd;
  ASSERT_EQ(LoadBytes(pcd, file), "loaded");
  EXPECT_EQ(pcd.Width(), 192);
  EXPECT_EQ(pcd.Height(), 128);
  EXPECT_TRUE(pcd.ImageProperties().Overview);
  EXPECT_EQ(pcd.Pixel(191, 127), Grey(63));
  EXPECT_EQ(LoadBytes(pcd, file.substr(0, file.size() - 1)), kInvalid);
}

TEST(PCDGraphicTest, FilesShorterThanTheirSectorsAreRefused) {
  const std::string file = ImagePac(0, Pattern);
  TPCDGraphic pcd;
  EXPECT_EQ(LoadBytes(pcd, file.substr(0, file.size() - 1)), kInvalid);
  EXPECT_EQ(LoadBytes(pcd, file.substr(0, 6143)), kInvalid);
  EXPECT_EQ(LoadBytes(pcd, TPatchedBytes(file).Byte(2048, 'X')), kInvalid);  // neither kind of header
  EXPECT_EQ(LoadBytes(pcd, ""), kInvalid);
}

}  // namespace
}  // namespace driftpost
