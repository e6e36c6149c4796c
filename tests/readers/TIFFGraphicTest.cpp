#include "readers/TIFFGraphic.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include "ReaderTestSupport.h"
#include "TIFFBuilder.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::TPatchedBytes;
using testing::TTIFFBuilder;

const std::string kInvalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
const std::string kUnsupported = "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";
const std::string kBadPalette = "Cannot load image. Palette in TIF/TIFF file is invalid.";

// A 4 by 2 grey picture, one row per strip: rows 10 20 30 40 and 50 60 70 80.
TTIFFBuilder GreyPicture(bool bigEndian = false) {
  TTIFFBuilder file(bigEndian);
  file.Picture(4, 2, 1, 8, 1, 1).Long(278, 1);
  return file.Strip(std::string("\x0A\x14\x1E\x28", 4)).Strip(std::string("\x32\x3C\x46\x50", 4));
}

std::string Greys(const TBitmap& bitmap) {
  std::string out;
  const std::string rgb = testing::RgbBytes(bitmap);
  for (std::size_t i = 0; i < rgb.size(); i += 3) out += rgb[i];
  return out;
}

std::string Deflated(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
           static_cast<uLong>(plain.size()));
  packed.resize(size);
  return packed;
}

TEST(TIFFGraphicTest, FilesOfLibtiffAndImageMagickDecodeLikeTheToolsDecodeThem) {
  // Both byte orders, strips of one to all rows, separate planes, 1 to 16 bits, and every
  // compression the reader decodes; compared with tifftopnm's decode (ImageMagick's where
  // tifftopnm reads no such file; see tiff/README.md).
  testing::ExpectFixturesDecode<TTIFFGraphic>(
      "tiff", {{"rgb-none.tif", pd24Bit},          {"rgb-none-be.tif", pd24Bit},
               {"rgb-packbits.tif", pd24Bit},      {"rgb-zip.tif", pd24Bit},
               {"rgb-zip-pred.tif", pd24Bit},      {"rgb-zip-pred-be.tif", pd24Bit},
               {"rgb-planar.tif", pd24Bit},        {"rgb-planar-zip-be.tif", pd24Bit},
               {"rgb48-none.tif", pd24Bit},        {"rgb48-zip-pred-be.tif", pd24Bit},
               {"rgba-zip-pred.tif", pd32Bit},     {"photo-jpeg.tif", pd24Bit},
               {"photo-jpeg-rgb-be.tif", pd24Bit}, {"cmyk8.tif", pd24Bit},
               {"gray8.tif", pd8Bit},              {"gray8-miniswhite.tif", pd8Bit},
               {"gray16-zip-pred-be.tif", pd8Bit}, {"gray4.tif", pd4Bit},
               {"gray2.tif", pd4Bit},              {"gray-alpha.tif", pd8Bit},
               {"palette4-be.tif", pd4Bit},        {"palette8-zip.tif", pd8Bit},
               {"bilevel-none.tif", pd1Bit},       {"bilevel-lsb2msb-be.tif", pd1Bit},
               {"fax-g3-1d.tif", pd1Bit},          {"fax-g3-1d-fill-lsb.tif", pd1Bit},
               {"fax-g3-wide.tif", pd1Bit},        {"fax2tiff.tif", pd1Bit},
               {"fax-mh.tif", pd1Bit},             {"fax-g3-minisblack.tif", pd1Bit},
               {"thunder.tif", pd4Bit}});
}

TEST(TIFFGraphicTest, TiledFilesDecodeLikeLibtiffDecodesThem) {
  // Tiles across and down with cut edge tiles, one tile larger than the picture, separate
  // planes, the predictor in big-endian files, JPEG tiles and tiles of 1 and 4 bits.
  testing::ExpectFixturesDecode<TTIFFGraphic>(
      "tiff", {{"rgb-tiled.tif", pd24Bit},
               {"photo-tiled-zip-pred-be.tif", pd24Bit},
               {"photo-tiled-planar.tif", pd24Bit},
               {"photo-tiled-jpeg.tif", pd24Bit},
               {"bilevel-tiled.tif", pd1Bit},
               {"gray4-tiled.tif", pd4Bit}});
}

TEST(TIFFGraphicTest, ColoursComputedFromInksAndChromaComeCloseToLibtiffs) {
  // The colour formulas round differently from the tools' own; a 16-bit sample read in
  // the wrong byte order, or a chroma block misplaced, would be far off.
  for (const char* name : {"cmyk16-be", "ycbcr-h2v2"}) {
    SCOPED_TRACE(name);
    TTIFFGraphic reader;
    ASSERT_NO_THROW(reader.LoadFile(testing::DataFile(std::string("tiff/") + name + ".tif")));
    const int worst = testing::MaxDifference(testing::RgbBytes(reader), ReadData(std::string("tiff/") + name + ".rgb"));
    EXPECT_GE(worst, 0);
    EXPECT_LE(worst, 3);
  }
}

TEST(TIFFGraphicTest, CompressionsBeyondTheReaderAreRefused) {
  for (const char* file : {"tiff/rgb-lzw.tif", "tiff/fax-g4.tif", "tiff/fax-g3-2d.tif"}) {
    TTIFFGraphic reader;
    EXPECT_EQ(LoadBytes(reader, ReadData(file)), kUnsupported) << file;
  }
  TTIFFGraphic oldJpeg;
  EXPECT_EQ(LoadBytes(oldJpeg, GreyPicture().Short(259, 6).Bytes()), kUnsupported);
}

TEST(TIFFGraphicTest, BilevelPalettesFollowThePhotometricInterpretation) {
  for (const std::uint32_t photometric : {0u, 1u}) {
    TTIFFGraphic reader;
    TTIFFBuilder file;
    file.Picture(8, 1, 1, 1, 1, photometric).Strip("\x0F");
    ASSERT_EQ(LoadBytes(reader, file.Bytes()), "loaded");
    ASSERT_EQ(reader.Palette().size(), 2u);
    const std::uint8_t first = photometric == 0 ? 255 : 0;
    EXPECT_EQ(reader.Palette()[0].Red, first);
    EXPECT_EQ(reader.Palette()[1].Red, 255 - first);
    EXPECT_EQ(reader.Pixel(0, 0), photometric == 0 ? clWhite : clBlack);
  }
}

TEST(TIFFGraphicTest, TagsReadTheSameInBothByteOrders) {
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian);
    TTIFFGraphic reader;
    TTIFFBuilder file = GreyPicture(bigEndian);
    // Subsampling is a pair of SHORTs inside the entry; resolution 300 per centimetre.
    file.Short(262, 6).Tag(530, 3, {2, 1}).Rational(282, {300, 1}).Rational(283, {600, 2}).Short(296, 3);
    TMemoryStream stream;
    stream.WriteText(file.Bytes());
    stream.SetPosition(0);
    ASSERT_TRUE(reader.ReadProperties(stream, 0));
    const TImageProperties& properties = reader.ImageProperties();
    EXPECT_EQ(properties.YCbCrSubsampling, (TByteArray{2, 1}));
    EXPECT_FLOAT_EQ(properties.XResolution, 762.0f);
    EXPECT_FLOAT_EQ(properties.YResolution, 762.0f);
    EXPECT_EQ(properties.Width, 4u);
    EXPECT_EQ(properties.ColorScheme, cmYCbCr);
    EXPECT_EQ(static_cast<bool>(properties.Options & opBigEndian), bigEndian);

    TTIFFGraphic grey;
    ASSERT_EQ(LoadBytes(grey, GreyPicture(bigEndian).Bytes()), "loaded");
    EXPECT_EQ(Greys(grey), "\x0A\x14\x1E\x28\x32\x3C\x46\x50");
  }
}

TEST(TIFFGraphicTest, RowsPerStripOfNoneAllOnesZeroOrBeyondTheHeightMeanOneStrip) {
  const std::string rows("\x0A\x14\x1E\x28\x32\x3C\x46\x50", 8);
  for (const std::uint32_t rowsPerStrip : {0xFFFFFFFFu, 0u, 1000u, 2u}) {
    TTIFFGraphic reader;
    TTIFFBuilder file;
    file.Picture(4, 2, 1, 8, 1, 1).Long(278, rowsPerStrip).Strip(rows);
    ASSERT_EQ(LoadBytes(reader, file.Bytes()), "loaded") << rowsPerStrip;
    EXPECT_EQ(Greys(reader), rows) << rowsPerStrip;
    EXPECT_EQ(reader.ImageProperties().RowsPerStrip, TCardinalArray{2});
  }
  TTIFFGraphic reader;
  TTIFFBuilder file;
  file.Picture(4, 2, 1, 8, 1, 1).Strip(rows);
  ASSERT_EQ(LoadBytes(reader, file.Bytes()), "loaded");
  EXPECT_EQ(Greys(reader), rows);
}

TEST(TIFFGraphicTest, ImagesAreFoundAlongTheDirectoryChainWhichMustEndWithoutLoops) {
  TTIFFBuilder file = GreyPicture();
  const std::uint32_t first = file.DirectoryOffset();
  auto properties = [](const std::string& bytes, int index) {
    TMemoryStream stream;
    stream.WriteText(bytes);
    stream.SetPosition(0);
    TTIFFGraphic reader;
    return reader.ReadProperties(stream, index);
  };
  // The chain: the only directory, then one that points back at itself.
  EXPECT_TRUE(properties(file.Bytes(), 0));
  EXPECT_FALSE(properties(file.Bytes(), 1));
  file.NextDirectory(first);
  EXPECT_TRUE(properties(file.Bytes(), 1));
  EXPECT_FALSE(properties(file.Bytes(), 1000));
  file.NextDirectory(1u << 30);
  EXPECT_FALSE(properties(file.Bytes(), 1));
}

TEST(TIFFGraphicTest, DamagedStripsLeaveTheirRowsAndNeverReachOutsideTheFile) {
  const std::string rows("\x0A\x14\x1E\x28\x32\x3C\x46\x50", 8);
  auto load = [](const TTIFFBuilder& file, TTIFFGraphic& reader) { return LoadBytes(reader, file.Bytes()); };
  TTIFFGraphic reader;
  // The second strip lies past the end: its row stays white.
  ASSERT_EQ(load(GreyPicture().Tag(273, 4, {8, 0x7FFFFFF0}), reader), "loaded");
  EXPECT_EQ(Greys(reader), std::string("\x0A\x14\x1E\x28\xFF\xFF\xFF\xFF", 8));
  // Byte counts past the end, and more strips claimed than listed.
  ASSERT_EQ(load(GreyPicture().Short(259, 32773).Tag(279, 4, {0xFFFFFFFF}), reader), "loaded");
  // Strip tables claiming a billion entries hold what the file holds.
  const TTIFFBuilder grey = GreyPicture();
  std::string huge = grey.Bytes();
  for (std::size_t at = grey.DirectoryOffset() + 2; at + 12 <= huge.size(); at += 12)
    if (huge[at] == '\x11' || huge[at] == '\x17') huge.replace(at + 4, 4, std::string("\0\0\0\x40", 4));  // 273, 279
  ASSERT_EQ(LoadBytes(reader, huge), "loaded");
  EXPECT_EQ(Greys(reader), rows);

  // A deflate stream that goes on far beyond the picture stops at its size.
  TTIFFBuilder bomb;
  bomb.Picture(4, 2, 1, 8, 8, 1).Strip(Deflated(rows + std::string(10 << 20, '\x7F')));
  ASSERT_EQ(load(bomb, reader), "loaded");
  EXPECT_EQ(Greys(reader), rows);
  // Packed data shorter than the picture leaves the rest black (zeros).
  TTIFFBuilder shortData;
  shortData.Picture(4, 2, 1, 8, 8, 1).Strip(Deflated(rows.substr(0, 2)));
  ASSERT_EQ(load(shortData, reader), "loaded");
  EXPECT_EQ(Greys(reader), std::string("\x0A\x14\0\0\0\0\0\0", 8));
}

TEST(TIFFGraphicTest, DamagedTilesLeaveTheirPartAndOddTileSizesAreRefused) {
  // A 20 by 2 grey picture in two 16 by 16 tiles; the second lies past the end of the file.
  std::string first(256, '\0');
  for (int i = 0; i < 256; ++i) first[static_cast<std::size_t>(i)] = static_cast<char>(i);
  auto tiled = [&](std::uint32_t tileWidth, std::uint32_t tileLength, std::uint32_t bits) {
    TTIFFBuilder file;
    file.Picture(20, 2, 1, bits, 1, 1).Long(322, tileWidth).Long(323, tileLength).Strip(first);
    return file.Tag(324, 4, {8, 0x7FFFFFF0}).Tag(325, 4, {256, 256});
  };
  TTIFFGraphic reader;
  ASSERT_EQ(LoadBytes(reader, tiled(16, 16, 8).Bytes()), "loaded");
  std::string expected = first.substr(0, 16) + std::string(4, '\xFF') + first.substr(16, 16) + std::string(4, '\xFF');
  EXPECT_EQ(Greys(reader), expected);
  // 1-bit tiles 12 pixels wide would start inside a byte; tiles beyond the picture limit.
  EXPECT_EQ(LoadBytes(reader, tiled(12, 16, 1).Bytes()), kInvalid);
  EXPECT_EQ(LoadBytes(reader, tiled(1u << 20, 1u << 20, 8).Bytes()), kInvalid);
}

TEST(TIFFGraphicTest, MalformedHeadersAndTablesAreRefusedWithOurErrors) {
  TTIFFGraphic reader;
  EXPECT_EQ(LoadBytes(reader, "II*\0"), kInvalid);
  EXPECT_EQ(LoadBytes(reader, std::string("II\x2B\0\x08\0\0\0", 8)), kInvalid);     // version 43
  EXPECT_EQ(LoadBytes(reader, std::string("IM\x2A\0\x08\0\0\0", 8)), kInvalid);     // byte order
  EXPECT_EQ(LoadBytes(reader, std::string("II\x2A\0\xFF\0\0\0", 8)), kInvalid);     // directory past the end
  EXPECT_EQ(LoadBytes(reader, GreyPicture().Long(256, 0).Bytes()), kInvalid);       // no width
  EXPECT_EQ(LoadBytes(reader, GreyPicture().Long(256, 1u << 30).Long(257, 1u << 30).Bytes()), kInvalid);
  EXPECT_EQ(LoadBytes(reader, GreyPicture().Short(262, 4).Bytes()), "Invalid color format in TIF/TIFF file.");
  EXPECT_EQ(LoadBytes(reader, GreyPicture().Short(259, 3).Bytes()), "Invalid color format in TIF/TIFF file.");
  // Subsampled chroma blocks carry three samples, never a fourth.
  TTIFFBuilder ycbcr;
  ycbcr.Picture(2, 2, 4, 8, 1, 6).Strip(std::string(6, '\x80'));
  EXPECT_EQ(LoadBytes(reader, ycbcr.Bytes()), "Invalid color format in TIF/TIFF file.");
  EXPECT_EQ(LoadBytes(reader, ycbcr.Short(277, 3).Tag(258, 3, {8, 8, 8}).Bytes()), "loaded");
  // A 2-bit palette picture needs 3 × 4 colour map values.
  TTIFFBuilder palette;
  palette.Picture(4, 1, 1, 2, 1, 3).Strip("\x1B");
  palette.Tag(320, 3, std::vector<std::uint32_t>(9, 0xFFFF));
  EXPECT_EQ(LoadBytes(reader, palette.Bytes()), kBadPalette);
  palette.Tag(320, 3, std::vector<std::uint32_t>(12, 0xFFFF));
  EXPECT_EQ(LoadBytes(reader, palette.Bytes()), "loaded");
  palette.Tag(320, 3, std::vector<std::uint32_t>(3 * 65536 + 3, 0));
  EXPECT_EQ(LoadBytes(reader, palette.Bytes()), kBadPalette);
  EXPECT_EQ(LoadBytes(reader, TPatchedBytes::OfFixture("tiff/palette8-zip.tif").Cut(1200)), kBadPalette);

  for (const char* file : {"tiff/rgb-zip-pred-be.tif", "tiff/photo-jpeg.tif", "tiff/fax-g3-1d.tif",
                           "tiff/palette4-be.tif", "tiff/rgb-planar.tif", "tiff/thunder.tif"})
    testing::LoadEveryPrefix<TTIFFGraphic>(ReadData(file));
}

TEST(TIFFGraphicTest, JpegStripsMustMatchTheFilesDescription) {
  // photo-jpeg.tif: 40 by 36, 16 rows per strip, YCbCr subsampled 2 by 2; the directory is
  // at 350 and its entries are sorted by tag.
  const std::string jpeg = ReadData("tiff/photo-jpeg.tif");
  TTIFFGraphic reader;
  TMemoryStream stream;
  stream.WriteText(jpeg);
  stream.SetPosition(0);
  ASSERT_TRUE(reader.ReadProperties(stream, 0));
  auto entryAt = [&](std::uint16_t tag) {
    for (std::size_t at = 352; at + 12 <= jpeg.size(); at += 12)
      if (static_cast<std::uint8_t>(jpeg[at]) == (tag & 0xFF) && static_cast<std::uint8_t>(jpeg[at + 1]) == tag >> 8)
        return at;
    return std::size_t{0};
  };
  const std::size_t rowsPerStrip = entryAt(278), photometric = entryAt(262), samples = entryAt(277);
  const std::size_t bits = entryAt(258);
  ASSERT_NE(rowsPerStrip * photometric * samples * bits, 0u);
  EXPECT_EQ(LoadBytes(reader, TPatchedBytes(jpeg).LE16(rowsPerStrip + 8, 8)), "Improper JPEG strip/tile size.");
  EXPECT_EQ(LoadBytes(reader, TPatchedBytes(jpeg).LE16(photometric + 8, 2)), "Improper JPEG sampling factors.");
  EXPECT_EQ(LoadBytes(reader, TPatchedBytes(jpeg).LE16(samples + 8, 4)), "Improper JPEG component count.");
  // All three bits-per-sample values stand at an offset.
  const std::size_t values = static_cast<std::uint8_t>(jpeg[bits + 8]) | static_cast<std::uint8_t>(jpeg[bits + 9]) << 8;
  EXPECT_EQ(LoadBytes(reader, TPatchedBytes(jpeg).LE16(values, 16).LE16(values + 2, 16).LE16(values + 4, 16)),
            "Improper JPEG data precision.");
}

}  // namespace
}  // namespace driftpost
