#include "readers/PCXGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "picture/PixelRows.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::RgbBytes;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected PCX image format.";
const std::string kInvalidColor = "Invalid color format in PCX file.";

TEST(PCXGraphicTest, FilesOfImageMagickAndNetpbmDecodeLikeTheToolsDecodeThem) {
  testing::ExpectFixturesDecode<TPCXGraphic>("pcx", {{"index8.pcx", pd8Bit},
                                                     {"rgb24.pcx", pd24Bit},
                                                     {"rgba32.pcx", pd32Bit},
                                                     {"netpbm-planes1.pcx", pd1Bit},
                                                     {"netpbm-planes2.pcx", pd4Bit},
                                                     {"netpbm-planes3.pcx", pd4Bit},
                                                     {"netpbm-planes4.pcx", pd4Bit},
                                                     {"netpbm-index2.pcx", pd4Bit},
                                                     {"netpbm-index4.pcx", pd4Bit},
                                                     {"gray8-plain.pcx", pd8Bit},
                                                     {"gray2-rle.pcx", pd4Bit}});
}

TEST(PCXGraphicTest, GreyPicturesOfFewerThanFourBitsSpanTheGreyPaletteAndColourOnesKeepTheirIndices) {
  // The first row's pixel values as 4-bit indices.
  auto firstIndices = [](const TPCXGraphic& pcx, int count) {
    std::string indices;
    for (int x = 0; x < count; ++x) indices += static_cast<char>(pcx.ScanLine(0)[x / 2] >> (x % 2 ? 0 : 4) & 15);
    return indices;
  };
  // Two bits in one plane: the levels 0 to 3 become 0, 5, 10 and 15 of the 16 greys.
  TPCXGraphic gray2;
  ASSERT_EQ(LoadBytes(gray2, TPatchedBytes::OfFixture("pcx/netpbm-index2.pcx").LE16(68, 2)), "loaded");
  TPCXGraphic colour2;
  ASSERT_EQ(LoadBytes(colour2, ReadData("pcx/netpbm-index2.pcx")), "loaded");
  std::string spread = firstIndices(colour2, 13);
  for (char& index : spread) index = static_cast<char>(index * 5);
  EXPECT_EQ(firstIndices(gray2, 13), spread);
  EXPECT_EQ(gray2.Palette()[15], (TRGBQuad{255, 255, 255, 0}));
  // Two and three bit planes likewise; four planes are 16 greys already.
  const std::pair<const char*, int> planes[] = {{"pcx/netpbm-planes2.pcx", 5}, {"pcx/netpbm-planes4.pcx", 1}};
  for (const auto& [fixture, step] : planes) {
    TPCXGraphic grey, colour;
    ASSERT_EQ(LoadBytes(grey, TPatchedBytes::OfFixture(fixture).LE16(68, 2)), "loaded");
    ASSERT_EQ(LoadBytes(colour, ReadData(fixture)), "loaded");
    std::string expected = firstIndices(colour, 13);
    for (char& index : expected) index = static_cast<char>(index * step);
    EXPECT_EQ(firstIndices(grey, 13), expected) << fixture;
  }
  TPCXGraphic grey3;
  ASSERT_EQ(LoadBytes(grey3, TPatchedBytes::OfFixture("pcx/netpbm-planes3.pcx").LE16(68, 2)), "loaded");
  const std::string eightLevels("\x00\x02\x04\x06\x08\x0A\x0C\x0F", 8);  // 0 to 7 × 15 / 7
  for (char index : firstIndices(grey3, 13)) EXPECT_NE(eightLevels.find(index), std::string::npos);
  // Version 3 files get the standard colours, whose indices are not grey levels.
  TPCXGraphic version3;
  ASSERT_EQ(LoadBytes(version3, TPatchedBytes::OfFixture("pcx/netpbm-index2.pcx").LE16(68, 2).Byte(1, 3)), "loaded");
  EXPECT_EQ(firstIndices(version3, 13), firstIndices(colour2, 13));
}

TEST(PCXGraphicTest, PalettesFollowTheVersionTheTrailerAndThePaletteInformation) {
  const std::string file = ReadData("pcx/index8.pcx");
  TPCXGraphic reference;
  ASSERT_EQ(LoadBytes(reference, file), "loaded");

  TPCXGraphic manufacturer205;
  ASSERT_EQ(LoadBytes(manufacturer205, TPatchedBytes(file).Byte(0, 205)), "loaded");
  EXPECT_EQ(RgbBytes(manufacturer205), RgbBytes(reference));

  // Without the byte 12 before the last 768 bytes, palette information 1 leaves no palette
  // of the file's: the bitmap keeps the default one of its depth.
  TPCXGraphic noTrailer;
  ASSERT_EQ(LoadBytes(noTrailer, TPatchedBytes(file).Byte(file.size() - 769, 0).LE16(68, 1)), "loaded");
  EXPECT_EQ(noTrailer.PixelFormat(), pd8Bit);
  EXPECT_EQ(noTrailer.Palette(), DefaultPalette(pd8Bit));

  TPCXGraphic version3;
  ASSERT_EQ(LoadBytes(version3, TPatchedBytes::OfFixture("pcx/netpbm-index4.pcx").Byte(1, 3)), "loaded");
  EXPECT_EQ(version3.Palette(), DefaultPalette(pd4Bit));
}

TEST(PCXGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  const std::string file = ReadData("pcx/rgb24.pcx");
  TPCXGraphic pcx;
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).Byte(0, 11)), kInvalid);                // manufacturer
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).LE16(8, 0).LE16(4, 5)), kInvalid);      // x-max < x-min
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).LE16(66, 6)), kInvalid);                // rows too short
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).LE16(8, 65534).LE16(10, 65534).LE16(66, 65535)), kInvalid);
  // Rows stored far longer than their pixels need, held whole beyond the picture limits.
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).LE16(66, 65535).LE16(10, 9999)), kInvalid);
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).Byte(3, 3)), kInvalidColor);  // 3 bits per plane
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes(file).Byte(65, 2)), kInvalidColor);  // two 8-bit planes
  EXPECT_EQ(LoadBytes(pcx, TPatchedBytes::OfFixture("pcx/gray8-plain.pcx").Cut(200)), "Stream-Lesefehler");

  for (const char* fixture : {"pcx/rgb24.pcx", "pcx/netpbm-planes4.pcx", "pcx/index8.pcx"})
    testing::LoadEveryPrefix<TPCXGraphic>(ReadData(fixture));
}

}  // namespace
}  // namespace driftpost
