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
  // The first row's 4-bit indices of a fixture loaded as it is and with palette information
  // 2 (grey), and of the grey one in version 3, whose standard colours take indices as stored.
  auto firstRow = [](const std::string& bytes) {
    TPCXGraphic pcx;
    EXPECT_EQ(LoadBytes(pcx, bytes), "loaded");
    std::string indices;
    for (int x = 0; x < 13; ++x) indices += static_cast<char>(pcx.ScanLine(0)[x / 2] >> (x % 2 ? 0 : 4) & 15);
    return indices;
  };
  // One 2-bit plane or two 1-bit planes: levels 0 to 3 become 0, 5, 10 and 15 of the 16
  // greys; four planes are 16 greys already.
  const std::pair<const char*, int> fixtures[] = {
      {"pcx/netpbm-index2.pcx", 5}, {"pcx/netpbm-planes2.pcx", 5}, {"pcx/netpbm-planes4.pcx", 1}};
  for (const auto& [fixture, step] : fixtures) {
    SCOPED_TRACE(fixture);
    const std::string colour = firstRow(ReadData(fixture));
    std::string spread = colour;
    for (char& index : spread) index = static_cast<char>(index * step);
    EXPECT_EQ(firstRow(TPatchedBytes::OfFixture(fixture).LE16(68, 2)), spread);
    EXPECT_EQ(firstRow(TPatchedBytes::OfFixture(fixture).LE16(68, 2).Byte(1, 3)), colour);
  }
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
