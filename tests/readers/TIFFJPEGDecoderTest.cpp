#include "readers/TIFFJPEGDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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

}  // namespace
}  // namespace driftpost
