#include "readers/PSPGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected PSP image format.";

// Where the fields patched below lie in psp/rgb24-rle.psp (version 4): the general image
// attributes' chunk, the layer bank, the layer's information chunk and its first channel.
constexpr std::size_t kWidth = 50, kHeight = 54, kResolution = 58, kMetric = 66, kCompression = 67, kBitDepth = 69;
constexpr std::size_t kBankLength = 98, kLayerType = 128, kSavedRight = 153, kChannelLength = 257;
constexpr std::size_t kChannelUnpacked = 269, kChannelType = 275;

TEST(PSPGraphicTest, FilesWrittenFromTheFormatDescriptionDecodeLikeGIMPDecodesThem) {
  // Version 3 files (with their longer block headers) load like later ones. 1 and 4-bit
  // rows are padded to 4 bytes as Paint Shop Pro writes them, or not; the second layer of
  // layers-rle.psp is its first raster one (the first is a vector layer) and covers part of
  // the canvas only. GIMP shows 1-bit files black; index1.rgb is the source's pixels.
  testing::ExpectFixturesDecode<TPSPGraphic>("psp", {{"rgb24.psp", pd24Bit},
                                                     {"rgb24-rle.psp", pd24Bit},
                                                     {"rgb24-deflate.psp", pd24Bit},
                                                     {"rgb24-v3-rle.psp", pd24Bit},
                                                     {"rgb24-v3-deflate.psp", pd24Bit},
                                                     {"rgba32-deflate.psp", pd32Bit},
                                                     {"index8-deflate.psp", pd8Bit},
                                                     {"index4-rle.psp", pd4Bit},
                                                     {"index4-unpadded-rle.psp", pd4Bit},
                                                     {"index1.psp", pd1Bit},
                                                     {"gray8-rle.psp", pd8Bit},
                                                     {"layers-rle.psp", pd24Bit}});
}

TEST(PSPGraphicTest, PropertiesComeFromTheGeneralImageAttributes) {
  TPSPGraphic psp;
  TMemoryStream stream;
  stream.WriteText(TPatchedBytes::OfFixture("psp/rgb24-rle.psp").Byte(kMetric, 2).Bytes());
  // 118 dots per centimetre (a double).
  const double perCentimetre = 118.0;
  stream.SetPosition(kResolution);
  stream.WriteBuffer(&perCentimetre, sizeof perCentimetre);
  stream.SetPosition(0);
  EXPECT_TRUE(TPSPGraphic::CanReadStream(stream));
  ASSERT_TRUE(psp.ReadProperties(stream, 0));
  const TImageProperties& properties = psp.ImageProperties();
  EXPECT_FLOAT_EQ(properties.XResolution, 299.72f);
  EXPECT_FLOAT_EQ(properties.YResolution, 299.72f);
  EXPECT_EQ(properties.Version, 4u);
  EXPECT_EQ(properties.Width, 13u);
  EXPECT_EQ(properties.Height, 7u);
  EXPECT_EQ(properties.ColorScheme, cmRGB);
  EXPECT_EQ(properties.Compression, cpRLE);

  // The signature is compared ignoring case; versions before 3 are not read.
  const std::string file = ReadData("psp/rgb24-rle.psp");
  for (const auto& [bytes, readable] :
       {std::pair{TPatchedBytes(file).Byte(0, 'p').Bytes(), true}, {TPatchedBytes(file).Byte(2, 'x').Bytes(), false},
        {TPatchedBytes(file).LE16(32, 2).Bytes(), false}}) {
    TMemoryStream other;
    other.WriteText(bytes);
    other.SetPosition(0);
    EXPECT_EQ(TPSPGraphic::CanReadStream(other), readable);
    EXPECT_EQ(TPSPGraphic().ReadProperties(other, 0), readable);
  }
}

TEST(PSPGraphicTest, ALayerReachingPastTheCanvasIsCut) {
  const std::string file = ReadData("psp/layers-rle.psp");
  constexpr std::size_t imageLeft = 270;
  TPSPGraphic whole, right, left;
  ASSERT_EQ(LoadBytes(whole, file), "loaded");
  // The saved pixels start 1 pixel into the layer, at x = 4 on the canvas, and are 6 wide.
  ASSERT_EQ(LoadBytes(right, TPatchedBytes(file).LE16(imageLeft, 10)), "loaded");
  ASSERT_EQ(LoadBytes(left, TPatchedBytes(file).LE16(imageLeft, 0xFFFC).LE16(imageLeft + 2, 0xFFFF)), "loaded");
  for (int y = 3; y <= 4; ++y) {
    EXPECT_EQ(right.Pixel(11, y), whole.Pixel(4, y));
    EXPECT_EQ(right.Pixel(12, y), whole.Pixel(5, y));
    EXPECT_EQ(right.Pixel(4, y), clWhite);
    EXPECT_EQ(left.Pixel(0, y), whole.Pixel(7, y));
    EXPECT_EQ(left.Pixel(2, y), whole.Pixel(9, y));
    EXPECT_EQ(left.Pixel(3, y), clWhite);
  }
}

TEST(PSPGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  const std::string file = ReadData("psp/rgb24-rle.psp");
  TPSPGraphic psp;
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kWidth + 2, 0x8000)), kInvalid);  // negative width
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kHeight, 0)), kInvalid);
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kBitDepth, 16)), "Invalid color format in PSP file.");
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kCompression, 3)),
            "Cannot load image. The compression scheme is not supported for PSP files.");
  // Blocks that run past their parent, or (as unsigned lengths) backwards.
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kBankLength, 504)), kInvalid);
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kBankLength + 2, 0xFFFF)), kInvalid);
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kChannelLength, 0xFFF0)), kInvalid);
  // A saved rectangle wider than the picture; channels whose size does not match it.
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kSavedRight, 14)), kInvalid);
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kSavedRight, 9)), kInvalid);
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kChannelUnpacked, 13 * 7 + 7)), kInvalid);
  // A colour layer without its red channel; a file without a raster layer.
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).LE16(kChannelType, 0)), kInvalid);
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes(file).Byte(kLayerType, 3)), kInvalid);
  // An indexed picture without its palette block (made an unknown block); damaged deflate data.
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes::OfFixture("psp/index8-deflate.psp").LE16(96, 99)),
            "Cannot load image. Palette in PSP file is invalid.");
  EXPECT_EQ(LoadBytes(psp, TPatchedBytes::OfFixture("psp/index8-deflate.psp").Byte(345, 0xFF).Byte(346, 0xFF)),
            "Cannot load image. Compression error found in PSP file.");

  for (const char* name : {"psp/rgb24-v3-rle.psp", "psp/index4-rle.psp", "psp/layers-rle.psp", "psp/rgba32-deflate.psp"})
    testing::LoadEveryPrefix<TPSPGraphic>(ReadData(name));
}

}  // namespace
}  // namespace driftpost
