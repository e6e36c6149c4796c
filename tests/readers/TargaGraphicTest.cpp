#include "readers/TargaGraphic.h"

#include <gtest/gtest.h>

#include <vector>

#include "ReaderTestSupport.h"
#include "picture/ColorManager.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected Targa image format.";

// An 18-byte header of a `width` by `height` picture, followed by `rest`.
std::string Targa(std::uint8_t imageType, std::uint8_t pixelSize, int width, int height, std::uint8_t descriptor,
                  const std::string& rest, std::uint8_t mapType = 0, std::uint16_t mapLength = 0,
                  std::uint8_t mapEntrySize = 0) {
  std::string header(18, '\0');
  TPatchedBytes bytes(header);
  bytes.Byte(1, mapType).Byte(2, imageType).LE16(5, mapLength).Byte(7, mapEntrySize);
  bytes.LE16(12, static_cast<std::uint16_t>(width)).LE16(14, static_cast<std::uint16_t>(height));
  bytes.Byte(16, pixelSize).Byte(17, descriptor);
  return bytes.Bytes() + rest;
}

TEST(TargaGraphicTest, FilesOfImageMagickAndNetpbmDecodeLikeTheToolsDecodeThem) {
  // 5-bit components are compared in their top five bits: the reader keeps them as stored or
  // widens colour map entries by a shift of three, the tools scale them to 8 bits.
  testing::ExpectFixturesDecode<TTargaGraphic>(
      "tga", {{"bits24.tga", pd24Bit},
              {"bits24-top.tga", pd24Bit},
              {"bits24-rle.tga", pd24Bit},
              {"netpbm-bits24.tga", pd24Bit},  // with an identification field
              {"bits32.tga", pd32Bit},
              {"bits16.tga", pd15Bit, 0xF8},
              {"bits15.tga", pd15Bit, 0xF8},
              {"cmap24-rle.tga", pd8Bit},
              {"cmap32-rle.tga", pd8Bit},  // top row first
              {"cmap16.tga", pd8Bit, 0xF8},
              {"netpbm-cmap15-rle.tga", pd8Bit, 0xF8},
              {"gray-rle.tga", pd8Bit}});
}

TEST(TargaGraphicTest, RightToLeftPicturesInEveryImageTypeAndRowOrderDecodeLikeImageMagick) {
  testing::ExpectFixturesDecode<TTargaGraphic>(
      "tga", {{"rtl-top-right-cmap.tga", pd8Bit},
              {"rtl-top-right-bits24.tga", pd24Bit},
              {"rtl-top-right-gray.tga", pd8Bit},
              {"rtl-top-right-cmap-rle.tga", pd8Bit},
              {"rtl-top-right-bits24-rle.tga", pd24Bit},
              {"rtl-top-right-gray-rle.tga", pd8Bit},
              {"rtl-top-right-bits32-rle.tga", pd32Bit},
              {"rtl-bottom-right-cmap.tga", pd8Bit},
              {"rtl-bottom-right-bits24.tga", pd24Bit},
              {"rtl-bottom-right-gray.tga", pd8Bit},
              {"rtl-bottom-right-cmap-rle.tga", pd8Bit},
              {"rtl-bottom-right-bits24-rle.tga", pd24Bit},
              {"rtl-bottom-right-gray-rle.tga", pd8Bit},
              {"rtl-bottom-right-bits16.tga", pd15Bit, 0xF8}});
}

TEST(TargaGraphicTest, PacketsRunOnIntoTheNextRows) {
  // Files packed over the whole picture: raw packets and runs that span rows.
  testing::ExpectFixturesDecode<TTargaGraphic>(
      "tga", {{"packets-across-rows.tga", pd24Bit}, {"packets-across-rows-cmap-rtl.tga", pd8Bit}});

  // 2 by 4, top row first: a run of 5 fills two rows and starts the third, which the stream
  // gives nothing; a raw packet of 2 ends the third and starts the fourth, which ends with
  // a run of 1. Each row's read must give back what the row did not consume.
  const std::string packets("\x84\x10\x01\x20\x30\x80\x40", 7);
  TTargaGraphic targa;
  ASSERT_EQ(LoadBytes(targa, Targa(11, 8, 2, 4, 0x20, packets)), "loaded");
  const std::vector<std::string> leftToRight = {"\x10\x10", "\x10\x10", "\x10\x20", "\x30\x40"};
  for (int y = 0; y < 4; ++y) EXPECT_EQ(std::string(reinterpret_cast<char*>(targa.ScanLine(y)), 2), leftToRight[y]);
  // The same packets right to left: each row mirrored after its pixels are complete.
  ASSERT_EQ(LoadBytes(targa, Targa(11, 8, 2, 4, 0x30, packets)), "loaded");
  const std::vector<std::string> rightToLeft = {"\x10\x10", "\x10\x10", "\x20\x10", "\x40\x30"};
  for (int y = 0; y < 4; ++y) EXPECT_EQ(std::string(reinterpret_cast<char*>(targa.ScanLine(y)), 2), rightToLeft[y]);
}

TEST(TargaGraphicTest, SixteenBitGreyPicturesShowTheirGreyAndNotTheirAlpha) {
  // GIMP writes grey and alpha as 16 bits in image types 3 and 11.
  testing::ExpectFixturesDecode<TTargaGraphic>(
      "tga", {{"gimp-gray-alpha.tga", pd8Bit}, {"gimp-gray-alpha-rle.tga", pd8Bit}});
  TTargaGraphic targa;
  targa.LoadFile(testing::DataFile("tga/gimp-gray-alpha.tga"));
  EXPECT_EQ(targa.ImageProperties().ColorScheme, cmGrayAlpha);
  EXPECT_EQ(targa.ImageProperties().BitsPerPixel, 16);
  EXPECT_EQ(targa.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
  // Right to left, and a packed file that ends early: the rows it lacks stay black.
  ASSERT_EQ(LoadBytes(targa, Targa(11, 16, 3, 2, 0x30, std::string("\x02\x10\xFF\x20\xFF\x30\xFF", 7))),
            "loaded");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(targa.ScanLine(0)), 3), "\x30\x20\x10");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(targa.ScanLine(1)), 3), std::string(3, '\0'));
}

TEST(TargaGraphicTest, GreyPicturesGetAGreyPaletteAndSkipAColourMap) {
  // Type 3 with a colour map of two 24-bit entries: the map is skipped, the palette is grey.
  TTargaGraphic targa;
  ASSERT_EQ(LoadBytes(targa, Targa(3, 8, 2, 1, 0, std::string(6, '\x7F') + std::string("\x00\xFF", 2), 1, 2, 24)), "loaded");
  ASSERT_EQ(targa.Palette().size(), 256u);
  EXPECT_EQ(targa.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
  EXPECT_EQ(targa.Pixel(0, 0), clBlack);
  EXPECT_EQ(targa.Pixel(1, 0), clWhite);
}

TEST(TargaGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  TTargaGraphic targa;
  const std::string pixel(4, '\0');
  EXPECT_EQ(LoadBytes(targa, Targa(5, 8, 1, 1, 0, pixel)), kInvalid);          // unknown image type
  EXPECT_EQ(LoadBytes(targa, Targa(2, 12, 1, 1, 0, pixel)), kInvalid);         // unknown pixel size
  EXPECT_EQ(LoadBytes(targa, Targa(1, 8, 1, 1, 0, pixel, 2)), kInvalid);       // unknown colour map type
  EXPECT_EQ(LoadBytes(targa, Targa(1, 8, 1, 1, 0, pixel, 1, 1, 8)), kInvalid); // unknown entry size
  EXPECT_EQ(LoadBytes(targa, Targa(2, 24, 0, 1, 0, pixel)), kInvalid);         // no pixels
  EXPECT_EQ(LoadBytes(targa, Targa(2, 32, 65535, 65535, 0, pixel)), kInvalid); // beyond the picture limits
  EXPECT_EQ(LoadBytes(targa, Targa(2, 24, 2, 2, 0, std::string(11, '\0'))), "Stream-Lesefehler");
  EXPECT_EQ(LoadBytes(targa, Targa(1, 8, 1, 1, 0, "", 1, 300, 24)), "Stream-Lesefehler");  // map cut short
  // Packed data that ends early leaves the rest of the picture as it was.
  EXPECT_EQ(LoadBytes(targa, Targa(10, 24, 4, 4, 0, "\x83\x01\x02")), "loaded");

  for (const char* file : {"tga/bits24-rle.tga", "tga/cmap16.tga", "tga/netpbm-bits24.tga", "tga/packets-across-rows.tga",
                           "tga/gimp-gray-alpha-rle.tga"})
    testing::LoadEveryPrefix<TTargaGraphic>(testing::ReadData(file));
}

TEST(TargaGraphicTest, ReportsPreparingAndEveryRowMovingTheRectangleDown) {
  TTargaGraphic targa;
  std::vector<std::string> events;
  targa.OnProgress = [&](TGraphic&, TProgressStage stage, std::uint8_t percent, bool, const TRect& rect,
                         const std::string& message) {
    events.push_back(std::to_string(stage) + " " + std::to_string(percent) + " " + std::to_string(rect.Top) + "-" +
                     std::to_string(rect.Bottom) + " " + message);
  };
  ASSERT_EQ(LoadBytes(targa, Targa(3, 8, 2, 3, 0, "abcdef")), "loaded");
  EXPECT_EQ(events, (std::vector<std::string>{"0 0 0-0 Preparing...", "2 100 0-0 ", "0 0 0-1 Transfering...",
                                              "1 0 0-1 ", "1 33 1-2 ", "1 66 2-3 ", "2 100 3-4 "}));
}

}  // namespace
}  // namespace driftpost
