#include "picture/Icon.h"

#include <gtest/gtest.h>

#include "PictureTestSupport.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::FirstDifference;
using testing::ReadData;
using testing::RenderedRgb;

std::string LoadResult(TIcon& icon, const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  try {
    icon.LoadStream(stream);
    return "loaded";
  } catch (const Exception& error) {
    return error.Message();
  }
}

TEST(IconTest, FirstBitmapImageIsDrawnLikeImageMagickOnWhite) {
  const struct {
    const char* File;
    const char* Expected;
    int Side;
  } fixtures[] = {
      {"multi.ico", "multi16.rgb", 16},     // 16 and 32 pixels: the first
      {"palette4.ico", "palette4.rgb", 32},  // 4 bits with an AND mask
      {"palette8.ico", "palette8.rgb", 32},
      {"withpng.ico", "withpng.rgb", 32},   // a PNG image of 256 first is passed over
      {"deepest.ico", "palette4.rgb", 32},  // 4 and 32 bits of the same size: the first
  };
  for (const auto& fixture : fixtures) {
    SCOPED_TRACE(fixture.File);
    TIcon icon;
    icon.LoadFile(DataFile(std::string("ico/") + fixture.File));
    EXPECT_EQ(icon.Width(), fixture.Side);
    EXPECT_EQ(icon.Height(), fixture.Side);
    const std::string actual = RenderedRgb(icon);
    const std::string expected = ReadData(std::string("ico/") + fixture.Expected);
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);
  }
}

// A 2 by 1 icon of 4 bits: pixel 0 red with its mask bit clear, pixel 1 white with its mask
// bit set, which inverts what lies beneath.
std::string TwoPixelIcon() {
  std::string file("\0\0\1\0\1\0", 6);
  file += std::string("\x02\x01\x10\0\1\0\4\0", 8) + std::string("\x70\0\0\0\x16\0\0\0", 8);
  const unsigned char header[40] = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 4, 0};
  file.append(reinterpret_cast<const char*>(header), 40);
  std::string palette(64, '\0');
  palette[4 + 2] = '\xff';                       // entry 1: red
  palette[8] = palette[9] = palette[10] = '\xff';  // entry 2: white
  file += palette;
  file += std::string("\x12\0\0\0", 4);  // colour row: indices 1 and 2
  file += std::string("\x40\0\0\0", 4);  // mask row: the second pixel only
  return file;
}

TEST(IconTest, AndMaskKeepsTheBackgroundCombinedWithTheColour) {
  TIcon icon;
  ASSERT_EQ(LoadResult(icon, TwoPixelIcon()), "loaded");
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(3, 1);
  canvas.Fill(RGBColor(0, 128, 255));
  canvas.DrawGraphic(1, 0, icon);
  EXPECT_EQ(canvas.Pixel(0, 0), RGBColor(0, 128, 255));
  EXPECT_EQ(canvas.Pixel(1, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(canvas.Pixel(2, 0), RGBColor(255, 127, 0));  // background exclusive-or white
}

TEST(IconTest, FilesThatAreNoIconsAreInvalid) {
  const std::string invalid = "Cannot load image. Invalid or unexpected TIcon image format.";
  const std::string good = TwoPixelIcon();
  auto patched = [&](std::size_t offset, char value) {
    std::string bytes = good;
    bytes[offset] = value;
    return bytes;
  };
  TIcon icon;
  EXPECT_EQ(LoadResult(icon, ""), invalid);
  EXPECT_EQ(LoadResult(icon, ReadData("bmp/bits24.bmp")), invalid);
  EXPECT_EQ(LoadResult(icon, patched(2, 2)), invalid);      // a cursor
  EXPECT_EQ(LoadResult(icon, patched(4, 0)), invalid);      // no images
  EXPECT_EQ(LoadResult(icon, patched(4, 40)), invalid);     // a directory past the end
  EXPECT_EQ(LoadResult(icon, patched(19, 1)), invalid);     // the image past the end
  EXPECT_EQ(LoadResult(icon, patched(22 + 14, 3)), invalid);  // 3 bits per pixel
  EXPECT_EQ(LoadResult(icon, patched(22 + 11, '\x40')), invalid);  // a height of 2^30 rows
  EXPECT_EQ(LoadResult(icon, good.substr(0, 22 + 40 + 64)), "Stream-Lesefehler");  // no colour row
  // Only a PNG image: nothing this class can draw.
  std::string png = good.substr(0, 22) + "\x89PNG\r\n\x1a\n" + std::string(40, '\0');
  EXPECT_EQ(LoadResult(icon, png), invalid);
  EXPECT_TRUE(icon.Empty());
}

TEST(IconTest, MaskCutShortLeavesTheRestOpaqueAndSavingWritesTheFile) {
  TIcon icon;
  const std::string file = TwoPixelIcon();
  ASSERT_EQ(LoadResult(icon, file.substr(0, file.size() - 4)), "loaded");
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(2, 1);
  canvas.Fill(clBlack);
  canvas.DrawGraphic(0, 0, icon);
  EXPECT_EQ(canvas.Pixel(1, 0), clWhite);

  ASSERT_EQ(LoadResult(icon, file), "loaded");
  TMemoryStream saved;
  icon.SaveStream(saved);
  EXPECT_EQ(saved.AsString(), file);
  TIcon copy;
  copy.CopyFrom(&icon);
  EXPECT_EQ(RenderedRgb(copy), RenderedRgb(icon));
  TBitmap bitmap;
  EXPECT_THROW(copy.CopyFrom(&bitmap), EConvertError);
  copy.CopyFrom(nullptr);
  EXPECT_TRUE(copy.Empty());
}

}  // namespace
}  // namespace driftpost
