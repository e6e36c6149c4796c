#include "readers/TIFFJPEGDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "ReaderTestSupport.h"
#include "platform/ConsoleLog.h"
#include "readers/TIFFDirectory.h"

namespace driftpost {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The strips of photo-jpeg.tif (40 by 36, 16 rows per strip, YCbCr subsampled 2 by 2,
// tables apart) and the properties the TIFF reader gives its decompressor.
class TIFFJPEGDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_.WriteText(testing::ReadData("tiff/photo-jpeg.tif"));
    stream_.SetPosition(0);
    TTIFFDirectory directory(stream_, 0, false);
    ASSERT_TRUE(directory.Read(350));
    const std::vector<std::uint32_t> offsets = directory.Cardinals(273), counts = directory.Cardinals(279);
    ASSERT_EQ(offsets.size(), 3u);
    for (std::size_t i = 0; i < offsets.size(); ++i)
      strips_.emplace_back(stream_.Memory() + offsets[i], stream_.Memory() + offsets[i] + counts[i]);
    properties_.Width = 40;
    properties_.Height = 36;
    properties_.SamplesPerPixel = 3;
    properties_.BitsPerSample = 8;
    properties_.ColorScheme = cmYCbCr;
    properties_.RowsPerStrip = {16};
    properties_.YCbCrSubsampling = {2, 2};
    properties_.BytesPerLine = 120;
    properties_.JPEGTables = directory.Bytes(347);
  }

  // Decodes strip `index` (packed as given) into 16 rows; the message of the error, if any.
  std::string Decode(TTIFFJPEGDecoder& decoder, Bytes packed, std::size_t unpacked = 16 * 120) {
    out_.assign(16 * 120, 0);
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = out_.data();
    try {
      decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), static_cast<std::int32_t>(unpacked),
                     out_.size());
      return "decoded";
    } catch (const EGraphicCompression& error) {
      return error.Message();
    }
  }

  TMemoryStream stream_;
  std::vector<Bytes> strips_;
  TImageProperties properties_;
  Bytes out_;
};

TEST_F(TIFFJPEGDecoderTest, StripsDecodeAfterTheSharedTablesAndChecksHoldTheRowSize) {
  TTIFFJPEGDecoder decoder(properties_);
  decoder.DecodeInit();
  EXPECT_EQ(Decode(decoder, strips_[0]), "decoded");
  const Bytes first = out_;
  properties_.CurrentRow = 16;
  EXPECT_EQ(Decode(decoder, strips_[1]), "decoded");
  EXPECT_NE(out_, first);
  // The last strip holds 4 rows: a strip of 16 rows is the wrong size there.
  properties_.CurrentRow = 32;
  EXPECT_EQ(Decode(decoder, strips_[0]), "Improper JPEG strip/tile size.");
  EXPECT_EQ(Decode(decoder, strips_[2], 4 * 120), "decoded");
  properties_.CurrentRow = 0;
  EXPECT_EQ(Decode(decoder, strips_[0], 16 * 120 - 1), "Fractional JPEG scanline unsupported.");
  EXPECT_EQ(Decode(decoder, Bytes{0x12, 0x34, 0x56}).rfind("JPEG decompression error. ", 0), 0u);
  decoder.DecodeEnd();

  // Without the tables, a strip that relies on them cannot be decoded.
  properties_.JPEGTables.clear();
  TTIFFJPEGDecoder withoutTables(properties_);
  withoutTables.DecodeInit();
  EXPECT_EQ(Decode(withoutTables, strips_[0]).rfind("JPEG decompression error. ", 0), 0u);
}

TEST_F(TIFFJPEGDecoderTest, TablesMustBeATablesOnlyStream) {
  // Tables that end before their end-of-image marker.
  properties_.JPEGTables.resize(properties_.JPEGTables.size() - 2);
  TTIFFJPEGDecoder decoder(properties_);
  try {
    decoder.DecodeInit();
    FAIL() << "accepted";
  } catch (const EGraphicCompression& error) {
    EXPECT_EQ(error.Message(), "Bogus JPEG tables field.");
  }
  // A whole picture is not a tables-only stream either.
  properties_.JPEGTables.assign(strips_[0].begin(), strips_[0].end());
  TTIFFJPEGDecoder picture(properties_);
  EXPECT_THROW(picture.DecodeInit(), EGraphicCompression);
}

TEST_F(TIFFJPEGDecoderTest, AStripCutShortIsFinishedWithAWarningInTheLog) {
  TConsoleLog log(nullptr);
  SetWarningLog(&log);
  TTIFFJPEGDecoder decoder(properties_);
  decoder.DecodeInit();
  // Three quarters of the strip: the first of its three blocks of 16 by 16 pixels is whole.
  Bytes cut(strips_[0].begin(), strips_[0].begin() + static_cast<std::ptrdiff_t>(strips_[0].size() * 3 / 4));
  EXPECT_EQ(Decode(decoder, cut), "decoded");
  EXPECT_EQ(Decode(decoder, cut), "decoded");
  SetWarningLog(nullptr);
  // Each warning once per picture, however often it happens.
  const std::vector<std::string> lines(log.Lines().begin(), log.Lines().end());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Warning: JPEG decompression error. Unexpected end of input."), 1);
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
  // What lies before the cut is there: the first blocks of the first row.
  TTIFFJPEGDecoder whole(properties_);
  whole.DecodeInit();
  const Bytes cutRows = out_;
  Decode(whole, strips_[0]);
  EXPECT_TRUE(std::equal(out_.begin(), out_.begin() + 24, cutRows.begin()));
  EXPECT_NE(out_, cutRows);
}

// A 16 by 16 grey progressive JPEG from libjpeg, its last scan repeated `extraScans` times.
Bytes ProgressiveGrey(int extraScans) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);  // a failure here ends the test program
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 16;
  info.image_height = 16;
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  JSAMPLE row[16];
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) row[x] = static_cast<JSAMPLE>(x * 16 + y);
    JSAMPROW rows[] = {row};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  Bytes jpeg(buffer, buffer + size);
  std::free(buffer);
  jpeg_destroy_compress(&info);
  // The last scan runs from its SOS marker to the end-of-image marker.
  std::size_t last = jpeg.size() - 2;
  while (last > 0 && !(jpeg[last] == 0xFF && jpeg[last + 1] == 0xDA)) --last;
  const Bytes scan(jpeg.begin() + static_cast<std::ptrdiff_t>(last), jpeg.end() - 2);
  for (int i = 0; i < extraScans; ++i) jpeg.insert(jpeg.end() - 2, scan.begin(), scan.end());
  return jpeg;
}

TEST(TIFFJPEGDecoderScansTest, ProgressiveStripsWithEndlessScansAreRefused) {
  TImageProperties properties;
  properties.Width = properties.Height = 16;
  properties.RowsPerStrip = {16};
  properties.SamplesPerPixel = 1;
  properties.BitsPerSample = 8;
  properties.ColorScheme = cmGray;
  properties.BytesPerLine = 16;
  auto decode = [&](Bytes packed) -> std::string {
    TTIFFJPEGDecoder decoder(properties);
    Bytes out(256);
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = out.data();
    try {
      decoder.DecodeInit();
      decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), 256, out.size());
    } catch (const EGraphicCompression& error) {
      return error.Message();
    }
    // Pixel (1, 1) was 17; the encoding keeps it close.
    return std::abs(out[17] - 17) <= 4 ? "decoded" : "wrong pixels " + std::to_string(out[17]);
  };
  TConsoleLog log(nullptr);
  SetWarningLog(&log);
  EXPECT_EQ(decode(ProgressiveGrey(0)), "decoded");
  EXPECT_EQ(decode(ProgressiveGrey(20)), "decoded");
  EXPECT_EQ(decode(ProgressiveGrey(600)), "JPEG decompression error. Too many scans.");
  SetWarningLog(nullptr);
}

}  // namespace
}  // namespace driftpost
