#include "readers/PSDGraphic.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::RgbBytes;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected PSD or PDD image format.";

std::string BE16(unsigned value) { return {static_cast<char>(value >> 8), static_cast<char>(value)}; }
std::string BE32(unsigned value) { return BE16(value >> 16) + BE16(value & 0xFFFF); }

// A Photoshop file with empty sections (or the given colour mode data) and a plain merged
// image made of `planes`, stored one after another.
std::string PlainPSD(unsigned mode, unsigned depth, unsigned width, unsigned height, unsigned channels,
                     const std::string& planes, const std::string& colorData = "") {
  return "8BPS" + BE16(1) + std::string(6, '\0') + BE16(channels) + BE32(height) + BE32(width) + BE16(depth) +
         BE16(mode) + BE32(static_cast<unsigned>(colorData.size())) + colorData + BE32(0) + BE32(0) + BE16(0) + planes;
}

// Loads `bytes` and returns the picture's pixels as red, green, blue bytes from the top.
std::string DecodedRgb(const std::string& bytes, TPixelDepth* depth = nullptr) {
  TPSDGraphic reader;
  const std::string result = LoadBytes(reader, bytes);
  EXPECT_EQ(result, "loaded");
  if (depth) *depth = reader.PixelFormat();
  return RgbBytes(reader);
}

TEST(PSDGraphicTest, FilesOfImageMagickDecodeLikeTheToolsDecodeThem) {
  // Bitmap pictures store 1 for black; 16-bit samples narrow exactly to the levels they were
  // made from; the fourth channel of an RGB picture is alpha (a 32-bit bitmap).
  testing::ExpectFixturesDecode<TPSDGraphic>("psd", {{"gray8-rle.psd", pd8Bit},
                                                     {"gray8.psd", pd8Bit},
                                                     {"gray16-rle.psd", pd8Bit},
                                                     {"indexed-rle.psd", pd8Bit},
                                                     {"rgb24-rle.psd", pd24Bit},
                                                     {"rgb24.psd", pd24Bit},
                                                     {"rgb48-rle.psd", pd24Bit},
                                                     {"rgb48.psd", pd24Bit},
                                                     {"rgba32-rle.psd", pd32Bit},
                                                     {"bitmap-rle.psd", pd1Bit},
                                                     {"bitmap.psd", pd1Bit}});
}

TEST(PSDGraphicTest, InvertedCMYKFilesShowTheirColoursWithinTheToolsRounding) {
  // The format stores ink inverted; without undoing that every colour would be wrong by far
  // more than the one level truncation costs against ImageMagick's rounding.
  for (const char* file : {"psd/cmyk32-rle.psd", "psd/cmyk64-rle.psd"}) {
    SCOPED_TRACE(file);
    TPSDGraphic reader;
    reader.LoadFile(testing::DataFile(file));
    EXPECT_EQ(reader.PixelFormat(), pd24Bit);
    const std::string actual = RgbBytes(reader);
    const std::string expected = ReadData(std::string(file).replace(std::string(file).size() - 3, 3, "rgb"));
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
      ASSERT_LE(std::abs(static_cast<unsigned char>(actual[i]) - static_cast<unsigned char>(expected[i])), 1)
          << "byte " << i;
  }
  // Stored 255 everywhere is no ink: white.
  EXPECT_EQ(DecodedRgb(PlainPSD(4, 8, 1, 1, 4, "\xFF\xFF\xFF\xFF")), "\xFF\xFF\xFF");
  EXPECT_EQ(DecodedRgb(PlainPSD(4, 8, 1, 1, 4, std::string("\xFF\xFF\xFF\0", 4))), std::string(3, '\0'));
}

TEST(PSDGraphicTest, OtherColourModesShowAsTheirNearestKind) {
  const std::string gray = ReadData("psd/gray8-rle.psd");
  const std::string rgb = ReadData("psd/rgb24-rle.psd");
  TPixelDepth depth;
  // Duotone shows its grey levels; multichannel with three channels shows them as RGB, with
  // fewer its first channel as grey.
  EXPECT_EQ(DecodedRgb(TPatchedBytes(gray).BE16(24, 8), &depth), ReadData("psd/gray8-rle.rgb"));
  EXPECT_EQ(depth, pd8Bit);
  EXPECT_EQ(DecodedRgb(TPatchedBytes(rgb).BE16(24, 7), &depth), ReadData("psd/rgb24-rle.rgb"));
  EXPECT_EQ(depth, pd24Bit);
  EXPECT_EQ(DecodedRgb(TPatchedBytes(gray).BE16(24, 7)), ReadData("psd/gray8-rle.rgb"));

  // Grey with an extra (alpha) channel shows the grey plane; RGB with two extra channels
  // shows the first as alpha and ignores the second.
  EXPECT_EQ(DecodedRgb(PlainPSD(1, 8, 2, 1, 2, "\x10\x20\xFF\xFF"), &depth), "\x10\x10\x10\x20\x20\x20");
  EXPECT_EQ(depth, pd8Bit);
  TPSDGraphic five;
  ASSERT_EQ(LoadBytes(five, PlainPSD(3, 8, 1, 1, 5, "\x01\x02\x03\x04\x05")), "loaded");
  EXPECT_EQ(five.PixelFormat(), pd32Bit);
  EXPECT_EQ(five.ImageProperties().SamplesPerPixel, 4);
  EXPECT_EQ(five.ImageProperties().Channels, 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(five.ScanLine(0)), 4), "\x03\x02\x01\x04");
}

TEST(PSDGraphicTest, LabLightnessAndChromaAreStoredAsBytesAroundTheMiddle) {
  // L 255 is lightness 100 and a, b 128 are neutral: white; L 0 is black. 16-bit samples
  // give the same colours as their high bytes.
  EXPECT_EQ(DecodedRgb(PlainPSD(9, 8, 2, 1, 3, std::string("\xFF\x00\x80\x80\x80\x80", 6))),
            std::string("\xFF\xFF\xFF\0\0\0", 6));
  const std::string eight = DecodedRgb(PlainPSD(9, 8, 1, 1, 3, "\x80\xC0\x80"));
  EXPECT_EQ(DecodedRgb(PlainPSD(9, 16, 1, 1, 3, "\x80\x7F\xC0\x11\x80\xFE")), eight);
  EXPECT_GT(static_cast<unsigned char>(eight[0]), static_cast<unsigned char>(eight[2]));  // a > 0 is red
}

TEST(PSDGraphicTest, SixteenBitIndicesPickTheirPaletteEntries) {
  std::string palette(768, '\0');
  palette[1] = '\x40';        // red of entry 1
  palette[256 + 255] = '\x7F';  // green of entry 255
  EXPECT_EQ(DecodedRgb(PlainPSD(2, 16, 2, 1, 1, std::string("\x00\x01\x01\x00", 4), palette)),
            std::string("\x40\0\0\0\x7F\0", 6));
  EXPECT_EQ(DecodedRgb(PlainPSD(2, 8, 1, 1, 1, std::string("\x01", 1), palette)), std::string("\x40\0\0", 3));
}

TEST(PSDGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  const std::string packed = ReadData("psd/gray8-rle.psd");
  const std::string plain = ReadData("psd/rgb24.psd");
  const std::size_t colorData = 26, resources = 30, layers = 30 + 4 + 28;
  TPSDGraphic psd;
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).Byte(0, '9')), kInvalid);  // signature
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(4, 2)), kInvalid);    // large document format
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(22, 32)), kInvalid);  // 32-bit float channels
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(22, 1)), kInvalid);   // 1 bit outside bitmap mode
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(24, 5)), kInvalid);   // no such mode
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(12, 0)), kInvalid);   // no channels
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(plain).BE16(12, 2)), kInvalid);    // RGB of two channels
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(plain).BE32(14, 0)), kInvalid);    // no rows
  // Sections that run past the end of the file.
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE32(colorData, 0xFFFFFFF0)), kInvalid);
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE32(resources, 0x7FFFFFFF)), kInvalid);
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE32(layers, static_cast<std::uint32_t>(packed.size()))), kInvalid);
  // Zip-compressed merged data is not read as if it were plain.
  const std::size_t compression = layers + 4 + 104;
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(compression, 2)),
            "Cannot load image. The compression scheme is not supported for PSD or PDD files.");
  // A row count that reaches past the file; an indexed picture without a palette.
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(packed).BE16(compression + 2, 0xFFFF)), kInvalid);
  EXPECT_EQ(LoadBytes(psd, PlainPSD(2, 8, 1, 1, 1, std::string(1, '\0'))),
            "Cannot load image. Palette in PSD or PDD file is invalid.");
  // Plain data cut short; a huge picture claimed by a small file is refused before its
  // pixels are allocated, plain or packed (a packed row of two bytes yields at most 128).
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(plain).Cut(plain.size() - 1)), "Stream-Lesefehler");
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(plain).BE32(14, 16000).BE32(18, 16000)), "Stream-Lesefehler");
  EXPECT_EQ(LoadBytes(psd, PlainPSD(1, 8, 16000, 2, 1, "").substr(0, 38) + BE16(1) + BE16(2) + BE16(2) + "\x81\x00\x81\x00"),
            kInvalid);
  EXPECT_EQ(LoadBytes(psd, TPatchedBytes(plain).BE32(14, 0x10000).BE32(18, 0x10000)), kInvalid);  // picture limit

  for (const char* file : {"psd/gray8-rle.psd", "psd/rgb48-rle.psd", "psd/indexed-rle.psd", "psd/bitmap.psd"})
    testing::LoadEveryPrefix<TPSDGraphic>(ReadData(file));
}

}  // namespace
}  // namespace driftpost
