#include "picture/PictureFit.h"

#include <gtest/gtest.h>

#include "PictureTestSupport.h"
#include "picture/Bitmap.h"
#include "picture/FormatRegistry.h"
#include "picture/Picture.h"
#include "picture/Resample.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::PaintBitmap;
using testing::RgbBytes;

TEST(PictureFitTest, TheLongerSideFitsAndTheOtherIsRoundedHalfToEven) {
  const struct {
    std::int64_t Width, Height;
    std::uint32_t FittedWidth, FittedHeight;
  } cases[] = {
      {640, 480, 320, 240}, {300, 600, 160, 320}, {400, 400, 320, 320},
      {640, 301, 320, 150},  // 150.5
      {640, 303, 320, 152},  // 151.5
      {1000, 1, 320, 0},     {4000, 3000, 320, 240},
  };
  for (const auto& c : cases) {
    const TPictureSize fitted = FitIntoSquare(c.Width, c.Height, 320);
    EXPECT_EQ(fitted.Width, c.FittedWidth) << c.Width << "x" << c.Height;
    EXPECT_EQ(fitted.Height, c.FittedHeight) << c.Width << "x" << c.Height;
  }
}

TEST(PictureFitTest, PicturesThatAreNotPlainBitmapsAreResampledFromTheirLookOnWhite) {
  InitializePictureFormats();
  // An icon: its transparent parts are white before the resampling mixes them in.
  TPicture icon;
  icon.LoadFile(DataFile("ico/palette4.ico"));
  TBitmap expected;
  expected.SetPixelFormat(pd24Bit);
  expected.SetSize(icon.Width(), icon.Height());
  expected.DrawGraphic(0, 0, *icon.Graphic());
  Resample(8, 8, rfTriangle, 0, expected);
  ResamplePicture(icon, {8, 8});
  ASSERT_NE(dynamic_cast<TBitmap*>(icon.Graphic()), nullptr);
  EXPECT_EQ(RgbBytes(icon.Bitmap()), RgbBytes(expected));

  // A bitmap drawn with a transparent colour shows white there, as it would on a page.
  TPicture keyed;
  TBitmap magenta;
  PaintBitmap(magenta, 6, 4, [](int x, int) { return x < 3 ? RGBColor(255, 0, 255) : clBlack; });
  magenta.SetTransparentColor(RGBColor(255, 0, 255));
  magenta.SetTransparent(true);
  keyed.CopyFrom(&magenta);
  ResamplePicture(keyed, {3, 2});
  EXPECT_EQ(keyed.Bitmap().Pixel(0, 0), clWhite);
  EXPECT_EQ(keyed.Bitmap().Pixel(2, 1), clBlack);
  EXPECT_EQ(keyed.Bitmap().PixelFormat(), pd24Bit);

  TPicture nothing;
  EXPECT_NO_THROW(ResamplePicture(nothing, {3, 2}));
}

}  // namespace
}  // namespace driftpost
