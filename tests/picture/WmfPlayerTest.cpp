// Windows metafiles written record by record and played onto bitmaps. Shapes are checked
// at pixels well inside or well outside them, where anti-aliasing does not reach.
#include "picture/Metafile.h"

#include <gtest/gtest.h>

#include <functional>

#include "MetafileBytes.h"

namespace driftpost {
namespace {

using testing::PackedDib;
using testing::Played;
using testing::Rgb;
using testing::TWmfBytes;

constexpr std::uint32_t Red = Rgb(255, 0, 0), Green = Rgb(0, 255, 0), Blue = Rgb(0, 0, 255), White = Rgb(255, 255, 255),
                        Black = 0, Yellow = Rgb(255, 255, 0);

// Record builders for the records these tests use most.
TWmfBytes& Brush(TWmfBytes& wmf, std::uint32_t color, int style = 0, int hatch = 0) {
  return wmf.Record(0x02FC, {style, color & 0xFFFF, color >> 16, hatch});
}
TWmfBytes& Pen(TWmfBytes& wmf, std::uint32_t color, int width = 0, int style = 0) {
  return wmf.Record(0x02FA, {style, width, 0, color & 0xFFFF, color >> 16});
}
TWmfBytes& Select(TWmfBytes& wmf, int index) { return wmf.Record(0x012D, {index}); }
TWmfBytes& Rectangle(TWmfBytes& wmf, int left, int top, int right, int bottom) {
  return wmf.Record(0x041B, {bottom, right, top, left});
}
// A picture of 100 by 60 pixels (one logical unit a pixel) with a null pen in slot 0.
TWmfBytes Picture() {
  TWmfBytes wmf(100, 60, 96);
  Pen(wmf, 0, 0, 5);
  Select(wmf, 0);
  return wmf;
}

TEST(WmfPlayerTest, ShapesFillWithTheBrushWhereTheWindowPutsThem) {
  TWmfBytes wmf = Picture();
  Brush(wmf, Red);
  Select(wmf, 1);
  Rectangle(wmf, 10, 10, 50, 40);
  // A window twice as large halves everything that follows.
  wmf.Record(0x020C, {120, 200});
  Brush(wmf, Blue);
  Select(wmf, 2);
  Rectangle(wmf, 120, 20, 200, 120);
  const auto picture = Played(wmf.Bytes());
  ASSERT_EQ(picture->Width(), 100);
  ASSERT_EQ(picture->Height(), 60);
  EXPECT_EQ(picture->Pixel(30, 25), Red);
  EXPECT_EQ(picture->Pixel(5, 5), White);
  EXPECT_EQ(picture->Pixel(55, 25), White);
  EXPECT_EQ(picture->Pixel(80, 40), Blue);
  EXPECT_EQ(picture->Pixel(55, 5), White);
}

TEST(WmfPlayerTest, ObjectsTakeTheFirstFreeSlotAndStrayIndicesAreIgnored) {
  TWmfBytes wmf = Picture();
  Brush(wmf, Red);    // slot 1
  Brush(wmf, Green);  // slot 2
  wmf.Record(0x01F0, {1});
  Brush(wmf, Blue);  // slot 1 again
  Select(wmf, 1);
  Rectangle(wmf, 0, 0, 30, 60);
  Select(wmf, 2);
  Select(wmf, 999);           // nothing there: the green brush stays
  wmf.Record(0x01F0, {999});  // nor here
  Rectangle(wmf, 30, 0, 60, 60);
  wmf.Record(0x01F0, {2});
  Select(wmf, 2);  // deleted: the green brush stays selected all the same
  Rectangle(wmf, 60, 0, 100, 60);
  const auto picture = Played(wmf.Bytes());
  EXPECT_EQ(picture->Pixel(15, 30), Blue);
  EXPECT_EQ(picture->Pixel(45, 30), Green);
  EXPECT_EQ(picture->Pixel(80, 30), Green);
}

TEST(WmfPlayerTest, SavedStatesComeBackAndClipsLimitDrawing) {
  TWmfBytes wmf = Picture();
  Brush(wmf, Red);
  Brush(wmf, Blue);
  Select(wmf, 1);
  wmf.Record(0x001E, {});        // save
  Select(wmf, 2);
  wmf.Record(0x0416, {40, 40, 20, 20});  // intersect with (20, 20, 40, 40)
  Rectangle(wmf, 0, 0, 100, 60);
  wmf.Record(0x0127, {-1});  // restore: red, no clip
  wmf.Record(0x0127, {-5});  // nothing saved that far back
  wmf.Record(0x0415, {60, 70, 0, 60});  // exclude (60, 0, 70, 60)
  Rectangle(wmf, 50, 0, 100, 10);
  const auto picture = Played(wmf.Bytes());
  EXPECT_EQ(picture->Pixel(30, 30), Blue);
  EXPECT_EQ(picture->Pixel(10, 30), White);
  EXPECT_EQ(picture->Pixel(45, 30), White);
  EXPECT_EQ(picture->Pixel(55, 5), Red);
  EXPECT_EQ(picture->Pixel(65, 5), White);
  EXPECT_EQ(picture->Pixel(80, 5), Red);
}

TEST(WmfPlayerTest, TheFillModeDecidesTheMiddleOfAStar) {
  for (int mode : {1, 2}) {
    TWmfBytes wmf = Picture();
    Brush(wmf, Black);
    Select(wmf, 1);
    wmf.Record(0x0106, {mode});
    // A five-pointed star drawn in one stroke around (50, 30).
    wmf.Record(0x0324, {5, 50, 2, 67, 56, 22, 40, 78, 40, 33, 56});
    const auto picture = Played(wmf.Bytes());
    EXPECT_EQ(picture->Pixel(50, 45), mode == 1 ? White : Black) << "mode " << mode;  // the inner pentagon
    EXPECT_EQ(picture->Pixel(50, 30), Black);
    EXPECT_EQ(picture->Pixel(5, 5), White);
  }
}

TEST(WmfPlayerTest, EllipsesPiesAndChords) {
  TWmfBytes wmf = Picture();
  Brush(wmf, Red);
  Select(wmf, 1);
  wmf.Record(0x0418, {40, 40, 0, 0});  // ellipse in (0, 0, 40, 40)
  // A pie from the right-hand radial counter-clockwise to the upper one: the upper right
  // quarter of the circle in (50, 0, 90, 40).
  wmf.Record(0x081A, {0, 70, 20, 100, 40, 90, 0, 50});
  // A chord across the circle in (50, 20, 90, 60) from its left end to its right end:
  // counter-clockwise, that is through the bottom.
  wmf.Record(0x0830, {40, 100, 40, 40, 60, 90, 20, 50});
  const auto picture = Played(wmf.Bytes());
  EXPECT_EQ(picture->Pixel(20, 20), Red);
  EXPECT_EQ(picture->Pixel(2, 2), White);  // outside the ellipse, inside its box
  EXPECT_EQ(picture->Pixel(80, 10), Red);
  EXPECT_EQ(picture->Pixel(60, 10), White);
  EXPECT_EQ(picture->Pixel(70, 50), Red);
  EXPECT_EQ(picture->Pixel(70, 36), White);
}

TEST(WmfPlayerTest, PensDrawTheirWidthAndStyle) {
  TWmfBytes wmf(100, 60, 96);
  Pen(wmf, Blue);            // slot 0: one pixel
  Pen(wmf, Red, 6);          // slot 1: six units
  Pen(wmf, Black, 0, 1);     // slot 2: dashed
  Select(wmf, 0);
  wmf.Record(0x0214, {10, 5});  // move to (5, 10)
  wmf.Record(0x0213, {10, 95});
  Select(wmf, 1);
  wmf.Record(0x0325, {2, 5, 30, 95, 30});  // polyline
  Select(wmf, 2);
  wmf.Record(0x0325, {2, 0, 50, 100, 50});
  const auto picture = Played(wmf.Bytes());
  EXPECT_EQ(picture->Pixel(50, 10), Blue);
  EXPECT_EQ(picture->Pixel(50, 8), White);
  EXPECT_EQ(picture->Pixel(50, 12), White);
  EXPECT_EQ(picture->Pixel(50, 28), Red);
  EXPECT_EQ(picture->Pixel(50, 32), Red);
  EXPECT_EQ(picture->Pixel(50, 35), White);
  int black = 0, white = 0;
  for (int x = 0; x < 100; ++x) {
    black += picture->Pixel(x, 50) == Black;
    white += picture->Pixel(x, 50) == White;
  }
  EXPECT_GT(black, 40);  // dashes and gaps
  EXPECT_GT(white, 10);
}

TEST(WmfPlayerTest, HatchesShowTheBackgroundOnlyWhenOpaque) {
  for (int mode : {1, 2}) {
    TWmfBytes wmf = Picture();
    wmf.Record(0x0201, {Green & 0xFFFF, Green >> 16});
    wmf.Record(0x0102, {mode});
    Brush(wmf, Blue, 2, 4);  // a cross hatch
    Select(wmf, 1);
    Rectangle(wmf, 0, 0, 100, 60);
    const auto picture = Played(wmf.Bytes());
    int blue = 0, back = 0;
    for (int y = 16; y < 32; ++y)
      for (int x = 16; x < 32; ++x) {
        const TColor pixel = picture->Pixel(x, y);
        blue += pixel == Blue;
        back += pixel == (mode == 2 ? Green : White);
      }
    EXPECT_EQ(blue, 2 * 2 * 15) << "two lines of 16 each way in 16 by 16, one pixel shared: mode " << mode;
    EXPECT_EQ(blue + back, 256) << mode;
  }
}

// The box of the pixels that differ from white, as left, top, right, bottom; all -1 when none.
TRect InkBox(const TBitmap& picture) {
  TRect box{-1, -1, -1, -1};
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      if (picture.Pixel(x, y) != White) {
        if (box.Left < 0) box = {x, y, x + 1, y + 1};
        box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
      }
  return box;
}

TEST(WmfPlayerTest, TextIsDrawnAtItsHeightFromItsReferencePoint) {
  const std::string font = std::string("\xEC\xFF", 2) + std::string(16, '\0') + "Arial" + std::string(27, '\0');
  // TEXTOUT: the length, the text, then y and x.
  TWmfBytes text = Picture();
  text.Record(0x02FB, {}, font);
  Select(text, 1);
  text.Record(0x0102, {1});  // transparent
  text.Record(0x0521, {4, 0x4848, 0x4848, 20, 30});
  const TRect box = InkBox(*Played(text.Bytes()));
  EXPECT_GE(box.Left, 30);
  EXPECT_LE(box.Left, 33);
  EXPECT_GE(box.Top, 20);
  EXPECT_LE(box.Top, 24);
  EXPECT_GE(box.Bottom - box.Top, 12);  // capital letters of a 20-pixel font
  EXPECT_LE(box.Bottom, 41);
  EXPECT_GT(box.Right - box.Left, 40);

  // Aligned right, the same text ends at the reference point; an opaque extended text
  // output fills its rectangle with the back colour first.
  TWmfBytes right = Picture();
  right.Record(0x02FB, {}, font);
  Select(right, 1);
  right.Record(0x0102, {1});
  right.Record(0x012E, {2});
  right.Record(0x0201, {Yellow & 0xFFFF, Yellow >> 16});
  right.Record(0x0A32, {20, 90, 4, 2, 0, 50, 10, 58}, "HHHH");
  const auto picture = Played(right.Bytes());
  EXPECT_EQ(picture->Pixel(5, 54), Yellow);
  EXPECT_EQ(picture->Pixel(5, 45), White);
  const TRect aligned = InkBox(*picture);
  EXPECT_GE(aligned.Right, 86);  // the text ends at 90
  EXPECT_LE(aligned.Right, 91);
  EXPECT_LT(aligned.Left, 10);  // where the yellow box starts
}

TEST(WmfPlayerTest, BitmapsAreStretchedIntoTheirRectangles) {
  const std::string dib = PackedDib(2, 2, [](int x, int y) { return y == 0 ? (x ? Green : Red) : (x ? Yellow : Blue); });
  TWmfBytes wmf = Picture();
  // STRETCHDIB: operation, colour use, source height, width, y, x, destination height, width, y, x.
  wmf.Record(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 40, 10, 10}, dib);
  // DIBSTRETCHBLT, mirrored by a negative destination width.
  wmf.Record(0x0B41, {0x0020, 0x00CC, 2, 2, 0, 0, 20, -40, 10, 100}, dib);
  // A bitmap whose header is no header is passed over.
  wmf.Record(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 60, 100, 0, 0}, std::string(dib.size(), '\x7f'));
  const auto picture = Played(wmf.Bytes());
  EXPECT_EQ(picture->Pixel(20, 20), Red);
  EXPECT_EQ(picture->Pixel(40, 20), Green);
  EXPECT_EQ(picture->Pixel(20, 40), Blue);
  EXPECT_EQ(picture->Pixel(40, 40), Yellow);
  EXPECT_EQ(picture->Pixel(70, 15), Green);
  EXPECT_EQ(picture->Pixel(90, 15), Red);
  EXPECT_EQ(picture->Pixel(70, 25), Yellow);
  EXPECT_EQ(picture->Pixel(5, 5), White);
}

TEST(WmfPlayerTest, BrokenRecordsEndTheDrawingAndUnknownOnesArePassedOver) {
  auto drawn = [](const std::function<void(TWmfBytes&)>& middle) {
    TWmfBytes wmf = Picture();
    Brush(wmf, Red);
    Select(wmf, 1);
    middle(wmf);
    Rectangle(wmf, 0, 0, 100, 60);
    return Played(wmf.Bytes())->Pixel(50, 30) == Red;
  };
  EXPECT_TRUE(drawn([](TWmfBytes& wmf) { wmf.Record(0x0999, {1, 2, 3, 4, 5}); }));
  EXPECT_TRUE(drawn([](TWmfBytes& wmf) { wmf.Record(0x0324, {500, 1, 1}); }));  // points past the record
  EXPECT_TRUE(drawn([](TWmfBytes& wmf) { wmf.Record(0x0538, {3, 1}); }));       // counts past the record
  EXPECT_TRUE(drawn([](TWmfBytes& wmf) { wmf.Record(0x0A32, {1, 1, 400, 0}); }));  // text past the record
  EXPECT_FALSE(drawn([](TWmfBytes& wmf) { wmf.Raw(0, 0x041B, ""); }));         // no size
  EXPECT_FALSE(drawn([](TWmfBytes& wmf) { wmf.Raw(2, 0x041B, ""); }));         // smaller than its own header
  EXPECT_FALSE(drawn([](TWmfBytes& wmf) { wmf.Raw(100000, 0x041B, ""); }));    // past the end
}

TEST(WmfPlayerTest, FarCoordinatesAndHugeShapesStayWithinThePicture) {
  // One logical unit is 100 pixels here: the coordinates reach millions of pixels away.
  TWmfBytes wmf = Picture();
  wmf.Record(0x020C, {1, 1});
  Brush(wmf, Red);
  Select(wmf, 1);
  Pen(wmf, Blue, 30000);
  wmf.Record(0x041B, {30000, 30000, -30000, -30000});
  wmf.Record(0x0418, {32000, 32000, -32000, -32000});
  Select(wmf, 2);
  wmf.Record(0x0817, {-32000, 32000, 32000, 32000, 32000, 32000, -32000, -32000});
  const auto picture = Played(wmf.Bytes());
  EXPECT_EQ(picture->Pixel(0, 0), Red);
  EXPECT_EQ(picture->Pixel(99, 59), Red);

  // A million points in one record (16 polygons of 65535): drawn within the work budget.
  TWmfBytes many = Picture();
  Brush(many, Blue);
  Select(many, 1);
  std::string params;
  testing::Put16(params, 16);
  for (int i = 0; i < 16; ++i) testing::Put16(params, 65535);
  for (int i = 0; i < 16 * 65535; ++i) {
    testing::Put16(params, i % 2 ? 100 : 0);
    testing::Put16(params, (i / 2) % 60);
  }
  many.Raw(static_cast<std::uint32_t>(3 + params.size() / 2), 0x0538, params);
  EXPECT_EQ(Played(many.Bytes())->Width(), 100);
}

}  // namespace
}  // namespace driftpost
