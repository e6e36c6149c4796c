#include "readers/PNGGraphic.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <utility>
#include <vector>

#include "ReaderTestSupport.h"
#include "picture/ColorManager.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;

const std::string kInvalid = "Cannot load image. Invalid or unexpected PNG image format.";
const std::string kCRC = "Cannot load image. CRC error found in PNG file.";
const std::string kExtra = "Cannot load image. Extra compressed data found in PNG file.";
const std::string kReadError = "Stream-Lesefehler";
const std::string kSignature("\x89PNG\r\n\x1a\n", 8);

std::string BE32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

// One chunk with its length and CRC.
std::string Chunk(const std::string& type, const std::string& data) {
  const std::string covered = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(covered.data()), static_cast<uInt>(covered.size()));
  return BE32(static_cast<std::uint32_t>(data.size())) + covered + BE32(static_cast<std::uint32_t>(crc));
}

std::string Ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t depth, std::uint8_t colorType,
                 std::uint8_t interlace = 0, std::uint8_t compression = 0) {
  return Chunk("IHDR", BE32(width) + BE32(height) + std::string{static_cast<char>(depth), static_cast<char>(colorType),
                                                                  static_cast<char>(compression), '\0',
                                                                  static_cast<char>(interlace)});
}

// A zlib stream; level 0 stores the bytes after a 2-byte stream header and a 5-byte block header.
std::string Deflated(const std::string& raw, int level = Z_DEFAULT_COMPRESSION) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), level);
  packed.resize(size);
  return packed;
}

const std::string kEnd = Chunk("IEND", "");

// The chunks of a file after its signature, as type and data.
std::vector<std::pair<std::string, std::string>> ChunksOf(const std::string& file) {
  std::vector<std::pair<std::string, std::string>> chunks;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const auto length = static_cast<std::size_t>(static_cast<std::uint8_t>(file[at]) << 24 |
                                                 static_cast<std::uint8_t>(file[at + 1]) << 16 |
                                                 static_cast<std::uint8_t>(file[at + 2]) << 8 |
                                                 static_cast<std::uint8_t>(file[at + 3]));
    chunks.emplace_back(file.substr(at + 4, 4), file.substr(at + 8, length));
    at += 12 + length;
  }
  return chunks;
}

TEST(PNGGraphicTest, FilesOfImageMagickAndNetpbmDecodeLikeNetpbmDecodesThem) {
  // Every colour type and depth, plain and interlaced, every filter on complete pixels of 1
  // to 8 bytes, and gamma: ImageMagick's files state 1/2.2 (no change); gamma 1.0 and 0.8
  // brighten, in grey ramps, palettes and colour samples alike.
  testing::ExpectFixturesDecode<TPNGGraphic>(
      "png", {{"gray1.png", pd1Bit},
              {"gray2.png", pd4Bit},
              {"gray4.png", pd4Bit},
              {"gray8.png", pd8Bit},
              {"gray16.png", pd8Bit},
              {"rgb8.png", pd24Bit},
              {"rgb16.png", pd24Bit},
              {"palette1.png", pd1Bit},
              {"palette2.png", pd4Bit},
              {"palette4.png", pd4Bit},
              {"palette8.png", pd8Bit},
              {"gray-alpha8.png", pd8Bit},
              {"gray-alpha16.png", pd8Bit},
              {"rgba8.png", pd32Bit},
              {"rgba16.png", pd32Bit},
              {"rgb8-interlaced-37x29.png", pd24Bit},
              {"palette8-interlaced.png", pd8Bit},
              {"netpbm-gray1-interlaced.png", pd1Bit},
              {"netpbm-gray2-interlaced.png", pd4Bit},
              {"netpbm-gray4-interlaced.png", pd4Bit},
              {"netpbm-gray8-interlaced.png", pd8Bit},
              {"netpbm-gray16-interlaced.png", pd8Bit},
              {"netpbm-rgb8-interlaced.png", pd24Bit},
              {"netpbm-rgb16-interlaced.png", pd24Bit},
              {"netpbm-palette1-interlaced.png", pd1Bit},
              {"netpbm-palette2-interlaced.png", pd4Bit},
              {"netpbm-palette4-interlaced.png", pd4Bit},
              {"netpbm-palette8-interlaced.png", pd8Bit},
              {"netpbm-gray-alpha8-interlaced.png", pd8Bit},
              {"netpbm-gray-alpha16-interlaced.png", pd8Bit},
              {"netpbm-rgba8-interlaced.png", pd32Bit},
              {"netpbm-rgba16-interlaced.png", pd32Bit},
              {"netpbm-rgb8-interlaced-1x1.png", pd24Bit},
              {"netpbm-rgb8-interlaced-3x2.png", pd24Bit},
              {"netpbm-rgb8-sub.png", pd24Bit},
              {"netpbm-rgb8-up.png", pd24Bit},
              {"netpbm-rgb8-avg.png", pd24Bit},
              {"netpbm-rgb8-paeth.png", pd24Bit},
              {"netpbm-gray4-avg.png", pd4Bit},
              {"netpbm-gray4-paeth.png", pd4Bit},
              {"netpbm-gray-alpha8-avg.png", pd8Bit},
              {"netpbm-gray-alpha8-paeth.png", pd8Bit},
              {"netpbm-rgba8-avg.png", pd32Bit},
              {"netpbm-rgba8-paeth.png", pd32Bit},
              {"netpbm-rgb16-avg.png", pd24Bit},
              {"netpbm-rgb16-paeth.png", pd24Bit},
              {"netpbm-rgba16-avg.png", pd32Bit},
              {"netpbm-rgba16-paeth.png", pd32Bit},
              {"netpbm-gray8-gamma1.png", pd8Bit},
              {"netpbm-gray2-interlaced-gamma0.8.png", pd4Bit},
              {"netpbm-rgb8-gamma1.png", pd24Bit},
              {"netpbm-rgba16-gamma1.png", pd32Bit},
              {"netpbm-palette4-gamma1.png", pd4Bit},
              {"netpbm-gray8-transparent.png", pd8Bit},
              {"netpbm-rgb8-transparent.png", pd24Bit},
              {"netpbm-palette4-transparent.png", pd4Bit}});
}

TEST(PNGGraphicTest, PropertiesAndGammaComeFromTheFile) {
  TPNGGraphic png;
  ASSERT_EQ(LoadBytes(png, ReadData("png/gray-alpha16.png")), "loaded");
  const TImageProperties& properties = png.ImageProperties();
  EXPECT_EQ(properties.ColorScheme, cmGrayAlpha);
  EXPECT_EQ(properties.BitsPerSample, 16);
  EXPECT_TRUE(properties.HasAlpha);
  EXPECT_EQ(properties.Compression, cpDeflate);
  EXPECT_FLOAT_EQ(properties.FileGamma, 0.45455f);
  EXPECT_EQ(properties.Options, opBigEndian | opGammaApplied);

  ASSERT_EQ(LoadBytes(png, ReadData("png/netpbm-rgb16-interlaced.png")), "loaded");
  EXPECT_TRUE(properties.Interlaced);
  EXPECT_EQ(properties.SamplesPerPixel, 3);
  EXPECT_EQ(properties.BitsPerPixel, 48);
  EXPECT_FLOAT_EQ(properties.FileGamma, 1.0f);
  EXPECT_EQ(properties.Options, opBigEndian);
  EXPECT_FALSE(png.ColorManager().TargetFlags.Contains(cfGammaCorrect));  // nothing kept from the last file
}

TEST(PNGGraphicTest, TransparentGreyAndRgbColoursAreLeftOutWhenDrawn) {
  for (const char* name : {"png/netpbm-gray8-transparent", "png/netpbm-rgb8-transparent"}) {
    SCOPED_TRACE(name);
    TPNGGraphic png;
    ASSERT_EQ(LoadBytes(png, ReadData(std::string(name) + ".png")), "loaded");
    EXPECT_TRUE(png.Transparent());
    EXPECT_EQ(testing::RenderedRgb(png), ReadData(std::string(name) + ".white.rgb"));
  }
}

TEST(PNGGraphicTest, ImageDataSplitOverManyChunksDecodesAsOne) {
  // Chunks of 1 to 7 bytes with empty ones between them, some typed in lower case.
  for (const char* name : {"png/netpbm-rgba16-interlaced.png", "png/palette4.png"}) {
    SCOPED_TRACE(name);
    const std::string file = ReadData(name);
    std::string split = kSignature;
    std::size_t size = 1;
    for (const auto& [type, data] : ChunksOf(file)) {
      if (type != "IDAT") {
        split += Chunk(type, data);
        continue;
      }
      for (std::size_t at = 0; at < data.size(); at += size, size = size % 7 + 1)
        split += Chunk(size % 2 ? "IDAT" : "idat", data.substr(at, size)) + Chunk("IDAT", "");
    }
    TPNGGraphic whole, pieces;
    ASSERT_EQ(LoadBytes(whole, file), "loaded");
    ASSERT_EQ(LoadBytes(pieces, split), "loaded");
    EXPECT_EQ(testing::RgbBytes(pieces), testing::RgbBytes(whole));
  }
}

TEST(PNGGraphicTest, ChunksAreCheckedAndUnknownOnesSkippedUnlessCritical) {
  const std::string gray = Ihdr(2, 1, 8, 0);
  const std::string pixels = Chunk("IDAT", Deflated(std::string("\0\x10\x20", 3)));
  TPNGGraphic png;
  EXPECT_EQ(LoadBytes(png, kSignature + gray + Chunk("tEXt", "a\0b") + pixels + Chunk("zTXt", "") + kEnd), "loaded");
  EXPECT_EQ(png.Pixel(1, 0), RGBColor(0x20, 0x20, 0x20));
  EXPECT_EQ(LoadBytes(png, kSignature + gray + Chunk("ABCD", "") + pixels + kEnd),
            "Cannot load PNG image. Unexpected but critical chunk detected.");
  // Image data that resumes after another chunk is no longer image data.
  EXPECT_EQ(LoadBytes(png, kSignature + gray + pixels + Chunk("tEXt", "") + pixels + kEnd),
            "Cannot load PNG image. Unexpected but critical chunk detected.");
  EXPECT_EQ(LoadBytes(png, kSignature + gray + kEnd), kInvalid);  // no image data at all
  EXPECT_EQ(LoadBytes(png, kSignature + Chunk("gAMA", BE32(45455)) + gray + pixels + kEnd), kInvalid);
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(0, 1, 8, 0) + pixels + kEnd), kInvalid);
  EXPECT_EQ(LoadBytes(png, kSignature + Chunk("IHDR", std::string(12, '\1')) + pixels + kEnd), kInvalid);
  EXPECT_EQ(LoadBytes(png, "\x89PNG\r\n\x1a\r" + gray + pixels + kEnd), kInvalid);
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(2, 1, 8, 0, 0, 1) + pixels + kEnd),
            "Cannot load image. The compression scheme is not supported for PNG files.");
  for (const std::string& header : {Ihdr(2, 1, 3, 0), Ihdr(2, 1, 4, 2), Ihdr(2, 1, 16, 3), Ihdr(2, 1, 8, 5)})
    EXPECT_EQ(LoadBytes(png, kSignature + header + Chunk("PLTE", "abc") + pixels + kEnd),
              "Invalid color format in PNG file.");
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(2, 1, 8, 3) + Chunk("PLTE", std::string(767, 'p')) + pixels + kEnd),
            "Cannot load image. Palette in PNG file is invalid.");

  // One byte changed in the data of a chunk the reader reads fails its CRC; chunks it passes
  // over (cHRM here) are not read at all.
  const std::string file = ReadData("png/rgb16.png");
  std::size_t at = 8;
  for (const auto& [type, data] : ChunksOf(file)) {
    if (!data.empty()) {
      std::string broken = file;
      broken[at + 8 + data.size() / 2] ^= 0x01;
      EXPECT_EQ(LoadBytes(png, broken), type == "cHRM" ? "loaded" : kCRC) << type;
    }
    at += 12 + data.size();
  }
}

TEST(PNGGraphicTest, SizesFromTheFileAreCheckedBeforeAnythingIsAllocated) {
  TPNGGraphic png;
  const std::string pixels = Chunk("IDAT", Deflated(std::string(4, '\0')));
  // A chunk that claims 2 GB, and one that claims just past the end of the file.
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(2, 1, 8, 0) + BE32(0x7FFFFFFF) + "IDAT" + std::string(16, '\0')),
            kReadError);
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(2, 1, 8, 0) + BE32(100) + "IDAT" + std::string(96, '\0')), kReadError);
  // Too many pixels, and a single row whose two 16-bit RGBA row buffers would take 2 GB.
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(0x7FFFFFFF, 0x7FFFFFFF, 8, 0) + pixels + kEnd), kInvalid);
  EXPECT_EQ(LoadBytes(png, kSignature + Ihdr(1u << 27, 1, 16, 6) + pixels + kEnd), kInvalid);
}

TEST(PNGGraphicTest, ImageDataMakesNoMoreAndNoLessThanThePicture) {
  const std::string gray = Ihdr(2, 2, 8, 0);
  const std::string rows("\0\x10\x20\0\x30\x40", 6);
  TPNGGraphic png;

  // A stream of 16 MB of zeros for a picture of two pixels: inflating stops at the picture.
  std::string bomb = rows + std::string(16 << 20, '\0');
  EXPECT_EQ(LoadBytes(png, kSignature + gray + Chunk("IDAT", Deflated(bomb)) + kEnd), "loaded");
  EXPECT_EQ(png.Pixel(1, 1), RGBColor(0x40, 0x40, 0x40));

  // Image data chunks that end after the first row: the rest is the background colour.
  ASSERT_EQ(LoadBytes(png, kSignature + gray + Chunk("bKGD", std::string("\0\x80", 2)) +
                               Chunk("IDAT", Deflated(rows, 0).substr(0, 2 + 5 + 3)) + kEnd),
            "loaded");
  EXPECT_EQ(png.Pixel(1, 0), RGBColor(0x20, 0x20, 0x20));
  EXPECT_EQ(png.Pixel(0, 1), RGBColor(0x80, 0x80, 0x80));
  EXPECT_EQ(png.Pixel(1, 1), RGBColor(0x80, 0x80, 0x80));

  // A stream that ends inside a row, or that has bytes after its end.
  EXPECT_EQ(LoadBytes(png, kSignature + gray + Chunk("IDAT", Deflated(rows.substr(0, 4))) + kEnd), kExtra);
  EXPECT_EQ(LoadBytes(png, kSignature + gray + Chunk("IDAT", Deflated(rows) + "x") + kEnd), kExtra);
  std::string damaged = Deflated(rows);
  damaged[2] = '\xFF';
  EXPECT_EQ(LoadBytes(png, kSignature + gray + Chunk("IDAT", damaged) + kEnd),
            "Cannot load image. Compression error found in PNG file.");
}

TEST(PNGGraphicTest, PaletteEntriesAndColoursTheFileDoesNotHaveAreHarmless) {
  // Two palette entries, indices up to 255, a bKGD naming entry 9, a tRNS of 300 entries.
  TPNGGraphic png;
  const std::string file = kSignature + Ihdr(3, 1, 8, 3) + Chunk("PLTE", "\x10\x20\x30\x40\x50\x60") +
                           Chunk("bKGD", "\x09") + Chunk("tRNS", std::string(300, '\x80')) +
                           Chunk("IDAT", Deflated(std::string("\0\x01\xFF\x00", 4))) + kEnd;
  ASSERT_EQ(LoadBytes(png, file), "loaded");
  EXPECT_EQ(png.Pixel(0, 0), RGBColor(0x40, 0x50, 0x60));
  EXPECT_EQ(png.Pixel(1, 0), clBlack);
  EXPECT_EQ(png.Pixel(2, 0), RGBColor(0x10, 0x20, 0x30));
  EXPECT_FALSE(png.Transparent());
  // An unknown filter type leaves its row as stored.
  ASSERT_EQ(LoadBytes(png, kSignature + Ihdr(2, 1, 8, 0) + Chunk("IDAT", Deflated(std::string("\x07\x05\x06", 3))) +
                               kEnd),
            "loaded");
  EXPECT_EQ(png.Pixel(1, 0), RGBColor(6, 6, 6));
}

TEST(PNGGraphicTest, EveryCutOfAFileLoadsOrFailsWithOurErrors) {
  for (const char* name : {"png/palette4.png", "png/netpbm-rgba16-interlaced.png", "png/netpbm-gray1-interlaced.png"})
    testing::LoadEveryPrefix<TPNGGraphic>(ReadData(name));
}

}  // namespace
}  // namespace driftpost
