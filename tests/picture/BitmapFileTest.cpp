#include "picture/BitmapFile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "PictureTestSupport.h"
#include "picture/Bitmap.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::FirstDifference;
using testing::ReadData;
using testing::RgbBytes;

struct TFixture {
  const char* Name;
  TPixelDepth Depth;
};

TEST(BitmapFileTest, EveryKindOfBitmapFileDecodesLikeImageMagick) {
  const TFixture fixtures[] = {
      {"bits1", pd1Bit},          {"bits4", pd4Bit},         {"bits8", pd8Bit},      {"rle8", pd8Bit},
      {"rle4", pd4Bit},           {"rle8-delta", pd8Bit},    {"bits16-555", pd15Bit}, {"bits16-565", pd16Bit},
      {"bits24", pd24Bit},        {"bits32", pd32Bit},       {"bits32-bitfields", pd32Bit},
      {"core4", pd4Bit},          {"core24", pd24Bit},       {"topdown24", pd24Bit}, {"topdown8", pd8Bit},
  };
  for (const TFixture& fixture : fixtures) {
    SCOPED_TRACE(fixture.Name);
    TBitmap bitmap;
    bitmap.LoadFile(DataFile(std::string("bmp/") + fixture.Name + ".bmp"));
    EXPECT_EQ(bitmap.PixelFormat(), fixture.Depth);
    const std::string expected = ReadData(std::string("bmp/") + fixture.Name + ".rgb");
    const std::string actual = RgbBytes(bitmap);
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);
  }
}

// A bitmap file's bytes with fields patched, starting from a small 24-bit file.
class BitmapFileBytes {
 public:
  BitmapFileBytes() : bytes_(ReadData("bmp/bits24.bmp")) {}
  BitmapFileBytes& Set32(std::size_t offset, std::uint32_t value) {
    std::memcpy(&bytes_[offset], &value, 4);
    return *this;
  }
  BitmapFileBytes& Set16(std::size_t offset, std::uint16_t value) {
    std::memcpy(&bytes_[offset], &value, 2);
    return *this;
  }
  BitmapFileBytes& Cut(std::size_t size) {
    bytes_.resize(size);
    return *this;
  }
  std::string Load(TBitmap& bitmap) const {
    TMemoryStream stream;
    stream.WriteText(bytes_);
    stream.SetPosition(0);
    try {
      bitmap.LoadStream(stream);
      return "loaded";
    } catch (const Exception& error) {
      return error.Message();
    }
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

TEST(BitmapFileTest, MalformedHeadersAreInvalidPictures) {
  const std::string invalid = "Cannot load image. Invalid or unexpected TBitmap image format.";
  TBitmap bitmap;
  EXPECT_EQ(BitmapFileBytes().Set32(14, 44).Load(bitmap), invalid);           // unknown header size
  EXPECT_EQ(BitmapFileBytes().Set32(18, 0).Load(bitmap), invalid);            // no width
  EXPECT_EQ(BitmapFileBytes().Set32(22, 0).Load(bitmap), invalid);            // no height
  EXPECT_EQ(BitmapFileBytes().Set16(28, 7).Load(bitmap), invalid);            // 7 bits per pixel
  EXPECT_EQ(BitmapFileBytes().Set32(30, 1).Load(bitmap), invalid);            // RLE8 of 24 bits
  EXPECT_EQ(BitmapFileBytes().Set32(30, 4).Load(bitmap), invalid);            // embedded JPEG
  EXPECT_EQ(BitmapFileBytes().Set32(10, 20).Load(bitmap), invalid);           // pixels inside the header
  EXPECT_EQ(BitmapFileBytes().Set32(18, 100000).Set32(22, 100000).Load(bitmap), invalid);  // 10^10 pixels
  EXPECT_EQ(BitmapFileBytes().Set32(22, 0x80000000u).Load(bitmap), invalid);  // -2^31 rows, top-down
  EXPECT_EQ(BitmapFileBytes().Set32(46, 0xFFFFFFFFu).Load(bitmap), invalid);  // a colour table of 4 billion entries
  EXPECT_EQ(BitmapFileBytes().Cut(1).Load(bitmap), "Stream-Lesefehler");
  EXPECT_EQ(BitmapFileBytes().Cut(40).Load(bitmap), "Stream-Lesefehler");
  EXPECT_EQ(BitmapFileBytes().Cut(300).Load(bitmap), "Stream-Lesefehler");   // pixel rows cut short
  EXPECT_EQ(BitmapFileBytes().Set32(10, 5000).Load(bitmap), "Stream-Lesefehler");  // pixels past the end
  EXPECT_TRUE(bitmap.Empty());  // nothing of a failed load is kept
}

TEST(BitmapFileTest, LastRowMayLackItsPaddingAndTheFileHeaderMayBeMissing) {
  const BitmapFileBytes full;
  TBitmap expected;
  ASSERT_EQ(full.Load(expected), "loaded");
  TBitmap cut;
  EXPECT_EQ(BitmapFileBytes().Cut(full.Bytes().size() - 1).Load(cut), "loaded");  // 13 × 3 + 1 padding byte
  EXPECT_EQ(RgbBytes(cut), RgbBytes(expected));

  TMemoryStream packed;  // a device-independent bitmap as the clipboard holds it
  packed.WriteText(full.Bytes().substr(14));
  packed.SetPosition(0);
  TBitmap bitmap;
  bitmap.LoadStream(packed);
  EXPECT_EQ(RgbBytes(bitmap), RgbBytes(expected));
}

TEST(BitmapFileTest, RunLengthDataCannotWritePastItsRowsOrTheBitmap) {
  // 3 by 2 pixels, RLE8: two white, a literal run of 5 of which only the first fits, a delta
  // far past the last row, then runs that must be ignored.
  std::string file("BM\0\0\0\0\0\0\0\0\x3e\0\0\0", 14);
  const std::uint8_t info[40] = {40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  file.append(reinterpret_cast<const char*>(info), 40);
  file.append("\0\0\0\0\xff\xff\xff\0", 8);  // palette: black, white
  const std::uint8_t data[] = {2, 1, 0, 5, 0, 1, 0, 1, 0, 0, 0, 0, 0, 2, 0, 200, 255, 1, 9, 1};
  file.append(reinterpret_cast<const char*>(data), sizeof data);
  TMemoryStream stream;
  stream.WriteText(file);
  stream.SetPosition(0);
  TBitmap bitmap;
  bitmap.LoadStream(stream);
  EXPECT_EQ(RgbBytes(bitmap), std::string("\0\0\0\0\0\0\0\0\0"
                                          "\xff\xff\xff\xff\xff\xff\0\0\0", 18));
}

TEST(BitmapFileTest, RunLengthDataEndingEarlyLeavesIndexZero) {
  std::string file("BM\0\0\0\0\0\0\0\0\x3e\0\0\0", 14);
  const std::uint8_t info[40] = {40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 4, 0, 2, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  file.append(reinterpret_cast<const char*>(info), 40);
  file.append("\0\0\0\0\xff\xff\xff\0", 8);
  file.append("\x02\x11\x00\x03\x10", 5);  // two white, then a literal run of three cut short
  TMemoryStream stream;
  stream.WriteText(file);
  stream.SetPosition(0);
  TBitmap bitmap;
  bitmap.LoadStream(stream);
  EXPECT_EQ(bitmap.Pixel(0, 1), clWhite);
  EXPECT_EQ(bitmap.Pixel(2, 1), clWhite);
  EXPECT_EQ(bitmap.Pixel(3, 1), clBlack);
  EXPECT_EQ(bitmap.Pixel(0, 0), clBlack);
}

}  // namespace
}  // namespace driftpost
