#include "picture/Bitmap.h"

#include <gtest/gtest.h>

#include "PictureTestSupport.h"
#include "picture/Icon.h"
#include "picture/PictureLimits.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

using testing::PaintBitmap;
using testing::RgbBytes;

const TPixelDepth AllDepths[] = {pd1Bit, pd4Bit, pd8Bit, pd15Bit, pd16Bit, pd24Bit, pd32Bit, pdDevice};

// Colours every format can hold exactly: black, white and the default 16-colour palette's
// pure primaries.
const TColor Exact[] = {clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255),
                        RGBColor(255, 255, 0)};

TEST(BitmapTest, FreshBitmapIsWhiteWithPaddedBottomUpRows) {
  for (TPixelDepth depth : AllDepths) {
    SCOPED_TRACE(static_cast<int>(depth));
    TBitmap bitmap;
    bitmap.SetPixelFormat(depth);
    bitmap.SetSize(5, 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.Pixel(x, y), clWhite);
    const std::size_t expected = (5 * static_cast<std::size_t>(BitsPerPixelOf(depth)) + 31) / 32 * 4;
    EXPECT_EQ(bitmap.BytesPerRow(), expected);
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), bitmap.RowStride());
    EXPECT_EQ(bitmap.RowStride(), -static_cast<std::ptrdiff_t>(expected));
  }
  TBitmap single;
  single.SetPixelFormat(pd24Bit);
  single.SetSize(7, 1);
  EXPECT_EQ(single.RowStride(), -24);  // known without a second row
}

TEST(BitmapTest, ScanLineRefusesRowsOutsideTheBitmap) {
  TBitmap bitmap;
  EXPECT_THROW(bitmap.ScanLine(0), EInvalidGraphicOperation);
  bitmap.SetSize(4, 2);
  EXPECT_NO_THROW(bitmap.ScanLine(1));
  EXPECT_THROW(bitmap.ScanLine(2), EInvalidGraphicOperation);
  EXPECT_THROW(bitmap.ScanLine(-1), EInvalidGraphicOperation);
  EXPECT_THROW(bitmap.SetPixelFormat(pdCustom), EInvalidGraphicOperation);
}

TEST(BitmapTest, ConvertingToAnyFormatAndBackKeepsTheColours) {
  for (TPixelDepth depth : AllDepths) {
    SCOPED_TRACE(static_cast<int>(depth));
    TBitmap bitmap;
    PaintBitmap(bitmap, 6, 2, [](int x, int y) { return Exact[(x + y) % 6]; });
    const std::string before = RgbBytes(bitmap);
    bitmap.SetPixelFormat(depth == pd1Bit ? pd4Bit : depth);
    if (depth == pd1Bit) {
      // Two colours only: black and white survive, the rest go to the nearer of them.
      bitmap.SetPixelFormat(pd1Bit);
      EXPECT_EQ(bitmap.Pixel(0, 0), clBlack);
      EXPECT_EQ(bitmap.Pixel(1, 0), clWhite);
      continue;
    }
    EXPECT_EQ(bitmap.PixelFormat(), depth);
    EXPECT_EQ(RgbBytes(bitmap), before);
    bitmap.SetPixelFormat(pd24Bit);
    EXPECT_EQ(RgbBytes(bitmap), before);
  }
}

TEST(BitmapTest, FifteenAndSixteenBitsWidenChannelsByRepeatingTheirTopBits) {
  TBitmap bitmap;
  PaintBitmap(bitmap, 2, 1, [](int x, int) { return x ? RGBColor(0x84, 0x86, 0x08) : RGBColor(0xFF, 0x7F, 0x01); });
  bitmap.SetPixelFormat(pd16Bit);
  // 0x84 → 5 bits 16 → 0x84; 0x86 → 6 bits 33 → 0x86; 0x08 → 1 → 0x08.
  EXPECT_EQ(bitmap.Pixel(1, 0), RGBColor(0x84, 0x86, 0x08));
  EXPECT_EQ(bitmap.Pixel(0, 0), RGBColor(0xFF, 0x7D, 0x00));
  bitmap.SetPixelFormat(pd15Bit);
  EXPECT_EQ(bitmap.Pixel(1, 0), RGBColor(0x84, 0x84, 0x08));
}

TEST(BitmapTest, IndexedFormatsMapToTheNearestPaletteEntryAndKeepIndicesOnPaletteChange) {
  TBitmap bitmap;
  PaintBitmap(bitmap, 3, 1, [](int x, int) { return x == 0 ? RGBColor(250, 10, 10) : x == 1 ? clBlack : RGBColor(90, 90, 200); });
  std::vector<TRGBQuad> palette = {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};  // black, red, blue
  bitmap.SetPalette(palette);
  bitmap.SetPixelFormat(pd8Bit);
  EXPECT_EQ(bitmap.Palette(), palette);
  EXPECT_EQ(bitmap.ScanLine(0)[0], 1);
  EXPECT_EQ(bitmap.ScanLine(0)[1], 0);
  EXPECT_EQ(bitmap.ScanLine(0)[2], 2);
  palette[1] = TRGBQuad{0, 255, 0, 0};
  bitmap.SetPalette(palette);
  EXPECT_EQ(bitmap.ScanLine(0)[0], 1);
  EXPECT_EQ(bitmap.Pixel(0, 0), RGBColor(0, 255, 0));
  // A palette too large for the depth is replaced by the depth's own.
  bitmap.SetPixelFormat(pd24Bit);
  bitmap.SetPalette(std::vector<TRGBQuad>(256));
  bitmap.SetPixelFormat(pd1Bit);
  EXPECT_EQ(bitmap.Palette().size(), 2u);
}

TEST(BitmapTest, ResizingKeepsTheSharedPartAndPaintsTheRestWhite) {
  for (TPixelDepth depth : {pd1Bit, pd4Bit, pd24Bit}) {
    SCOPED_TRACE(static_cast<int>(depth));
    TBitmap bitmap;
    bitmap.SetPixelFormat(depth);
    bitmap.SetSize(3, 2);
    bitmap.Fill(clBlack);
    bitmap.SetSize(5, 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.Pixel(x, y), x < 3 && y < 2 ? clBlack : clWhite) << x << "," << y;
    bitmap.SetSize(2, 1);
    EXPECT_EQ(bitmap.Pixel(1, 0), clBlack);
    bitmap.SetSize(0, 1);
    EXPECT_TRUE(bitmap.Empty());
  }
}

TEST(BitmapTest, SizesBeyondThePictureLimitsAreRefusedBeforeAllocating) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pd32Bit);
  EXPECT_NO_THROW(bitmap.CheckImageSize(1 << 14, 1 << 14));  // 2^28 pixels, 1 GiB: the limits themselves
  try {
    bitmap.SetSize((1 << 14) + 1, 1 << 14);
    FAIL() << "no error";
  } catch (const EInvalidGraphic& error) {
    EXPECT_EQ(error.Message(), "Cannot load image. Invalid or unexpected TBitmap image format.");
  }
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_THROW(bitmap.SetSize(INT32_MAX, 2), EInvalidGraphic);
  EXPECT_THROW(bitmap.SetSize(-1, 5), EInvalidGraphic);
  EXPECT_THROW(bitmap.CheckImageSize(INT64_MAX, INT64_MAX), EInvalidGraphic);

  // One row of 2^28 1-bit pixels is within the pixel limit but not a wider one.
  EXPECT_TRUE(PictureSizeAllowed(std::uint64_t{1} << 28, 1, pd1Bit));
  EXPECT_FALSE(PictureSizeAllowed((std::uint64_t{1} << 28) + 1, 1, pd1Bit));
  EXPECT_FALSE(PictureSizeAllowed(std::uint64_t{1} << 63, 4, pd1Bit));  // the product overflows
  EXPECT_FALSE(BytesPerRowOf(UINT64_MAX, pd32Bit).has_value());
  EXPECT_FALSE(CheckedProduct(SIZE_MAX / 2 + 1, 2).has_value());
  EXPECT_EQ(CheckedProduct(3, 4), 12u);
}

TEST(BitmapTest, DrawingConvertsClipsAndStretches) {
  TBitmap source;
  PaintBitmap(source, 2, 2, [](int x, int y) { return Exact[2 + x + 2 * y]; });
  source.SetPixelFormat(pd4Bit);

  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(3, 3);
  canvas.DrawGraphic(-1, 1, source);  // the left column falls outside
  EXPECT_EQ(canvas.Pixel(0, 0), clWhite);
  EXPECT_EQ(canvas.Pixel(0, 1), Exact[3]);
  EXPECT_EQ(canvas.Pixel(0, 2), Exact[5]);
  EXPECT_EQ(canvas.Pixel(1, 1), clWhite);

  TBitmap large;
  large.SetPixelFormat(pd1Bit);
  large.SetSize(4, 4);
  TBitmap twoTone;
  PaintBitmap(twoTone, 2, 1, [](int x, int) { return x ? clWhite : clBlack; });
  large.StretchDrawGraphic(TRect{0, 0, 4, 4}, twoTone);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(large.Pixel(x, y), x < 2 ? clBlack : clWhite);
}

TEST(BitmapTest, TransparentColourIsNotDrawn) {
  TBitmap source;
  PaintBitmap(source, 3, 1, [](int x, int) { return x == 1 ? RGBColor(255, 0, 255) : clBlack; });
  source.SetTransparentColor(RGBColor(255, 0, 255));
  source.SetTransparent(true);
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(3, 1);
  canvas.DrawGraphic(0, 0, source);
  EXPECT_EQ(canvas.Pixel(0, 0), clBlack);
  EXPECT_EQ(canvas.Pixel(1, 0), clWhite);
  EXPECT_EQ(canvas.Pixel(2, 0), clBlack);
}

TEST(BitmapTest, SavedFilesLoadBackInTheirFormat) {
  for (TPixelDepth depth : AllDepths) {
    SCOPED_TRACE(static_cast<int>(depth));
    TBitmap bitmap;
    PaintBitmap(bitmap, 7, 3, [](int x, int y) { return Exact[(x * 2 + y) % 6]; });
    bitmap.SetPixelFormat(depth);
    TMemoryStream stream;
    bitmap.SaveStream(stream);
    stream.SetPosition(0);
    TBitmap loaded;
    loaded.LoadStream(stream);
    EXPECT_EQ(loaded.PixelFormat(), depth == pdDevice ? pd32Bit : depth);
    EXPECT_EQ(RgbBytes(loaded), RgbBytes(bitmap));
  }
}

TEST(BitmapTest, CopyingTakesBitmapsOnly) {
  TBitmap source;
  PaintBitmap(source, 2, 2, [](int, int) { return RGBColor(1, 2, 3); });
  TBitmap copy;
  copy.CopyFrom(&source);
  EXPECT_EQ(RgbBytes(copy), RgbBytes(source));
  TIcon icon;
  try {
    copy.CopyFrom(&icon);
    FAIL() << "no error";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "TIcon kann nicht zu  TBitmap zugewiesen werden");
  }
}

}  // namespace
}  // namespace driftpost
