// Enhanced metafiles written record by record and played onto bitmaps. Shapes are checked
// at pixels well inside or well outside them, where anti-aliasing does not reach.
#include <gtest/gtest.h>

#include <bit>
#include <functional>

#include "MetafileBytes.h"
#include "picture/Metafile.h"

namespace driftpost {
namespace {

using testing::PackedDib;
using testing::Played;
using testing::Put32;
using testing::Rgb;
using testing::TEmfBytes;

constexpr std::uint32_t Red = Rgb(255, 0, 0), Blue = Rgb(0, 0, 255), White = Rgb(255, 255, 255), Black = 0,
                        Green = Rgb(0, 255, 0);
constexpr std::int64_t Stock = 0x80000000;

TEmfBytes& Brush(TEmfBytes& emf, int index, std::uint32_t color) {
  return emf.Record(39, {index, 0, color, 0}).Record(37, {index});
}
TEmfBytes& Rectangle(TEmfBytes& emf, int left, int top, int right, int bottom) {
  return emf.Record(43, {left, top, right, bottom});
}
// 100 by 60 pixels, drawn without a pen.
TEmfBytes Picture() {
  TEmfBytes emf(100, 60);
  emf.Record(37, {Stock | 8});
  return emf;
}
std::string Floats(std::initializer_list<float> values) {
  std::string out;
  for (float value : values) Put32(out, std::bit_cast<std::uint32_t>(value));
  return out;
}

TEST(EmfPlayerTest, TheFrameMapsTheReferenceDeviceOntoThePicture) {
  TEmfBytes emf = Picture();
  Brush(emf, 1, Red);
  Rectangle(emf, 10, 10, 50, 40);
  const std::string bytes = emf.Bytes();
  const auto picture = Played(bytes);
  ASSERT_EQ(picture->Width(), 100);
  ASSERT_EQ(picture->Height(), 60);
  EXPECT_EQ(picture->Pixel(30, 25), Red);
  EXPECT_EQ(picture->Pixel(55, 25), White);

  // Stretched to twice its size, and onto a bitmap of another format.
  TMetafile metafile;
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  metafile.LoadStream(stream);
  TBitmap large;
  large.SetPixelFormat(pd8Bit);
  large.SetSize(200, 120);
  large.StretchDrawGraphic(TRect{0, 0, 200, 120}, metafile);
  EXPECT_EQ(large.Pixel(90, 70), Red);
  EXPECT_EQ(large.Pixel(110, 70), White);
}

TEST(EmfPlayerTest, MappingModesAndTheWorldTransformPlaceTheShapes) {
  TEmfBytes emf = Picture();
  Brush(emf, 1, Red);
  // Hundredths of a millimetre, y growing upwards: 1323 by 794 are 50 by 30 pixels.
  emf.Record(17, {3});
  Rectangle(emf, 0, 0, 1323, -794);
  // Anisotropic, window twice the viewport: halved.
  emf.Record(17, {8}).Record(9, {200, 200}).Record(11, {100, 100});
  Brush(emf, 2, Blue);
  Rectangle(emf, 120, 0, 200, 60);  // (60, 0, 100, 30)
  // The world transform moves what follows 40 pixels down (of the page, before the halving).
  emf.Record(35, {}, Floats({1, 0, 0, 1, 0, 80}));
  Brush(emf, 3, Green);
  Rectangle(emf, 120, 0, 200, 40);  // (60, 40, 100, 60)
  emf.Record(36, {}, Floats({1, 0, 0, 1, 0, 0}) + std::string("\1\0\0\0", 4));  // back to identity
  const auto picture = Played(emf.Bytes());
  EXPECT_EQ(picture->Pixel(25, 15), Red);
  EXPECT_EQ(picture->Pixel(25, 45), White);
  EXPECT_EQ(picture->Pixel(80, 15), Blue);
  EXPECT_EQ(picture->Pixel(80, 50), Green);
  EXPECT_EQ(picture->Pixel(80, 35), White);
}

TEST(EmfPlayerTest, PathsAreFilledStrokedAndClippedTo) {
  TEmfBytes emf = Picture();
  Brush(emf, 1, Red);
  // A triangle with a curved side.
  emf.Record(59, {}).Record(27, {5, 55}).Record(54, {45, 55});
  emf.Record(88, {0, 0, 0, 0, 3}, std::string("\x2d\0\x0a\0\x05\0\x0a\0\x05\0\x37\0", 12));
  emf.Record(61, {}).Record(60, {}).Record(62, {0, 0, 0, 0});
  // The same kind of path as the clip: a square, then the whole picture filled in blue.
  emf.Record(59, {}).Record(27, {60, 10}).Record(54, {90, 10}).Record(54, {90, 40}).Record(54, {60, 40});
  emf.Record(61, {}).Record(60, {}).Record(67, {5});
  Brush(emf, 2, Blue);
  Rectangle(emf, 50, 0, 100, 60);
  const auto picture = Played(emf.Bytes());
  EXPECT_EQ(picture->Pixel(20, 45), Red);
  EXPECT_EQ(picture->Pixel(40, 15), White);  // outside the curve
  EXPECT_EQ(picture->Pixel(75, 25), Blue);
  EXPECT_EQ(picture->Pixel(55, 25), White);
  EXPECT_EQ(picture->Pixel(75, 50), White);
}

TEST(EmfPlayerTest, StockObjectsTextAndRegions) {
  TEmfBytes emf = Picture();
  emf.Record(37, {Stock | 4});  // black brush
  // A region of one rectangle is the clip; copying no region clears it again.
  std::string region;
  for (std::int64_t value : {32, 1, 1, 16, 0, 0, 100, 60, 0, 0, 20, 20}) Put32(region, value);
  emf.Record(75, {48, 5}, region);
  Rectangle(emf, 0, 0, 100, 60);
  emf.Record(75, {0, 5});
  emf.Record(37, {Stock | 1});  // light grey
  Rectangle(emf, 80, 40, 100, 60);
  // "Hi" 20 pixels high, from its top left corner at (40, 10).
  std::string font;
  for (std::int64_t value : {-20, 0, 0, 0, 700}) Put32(font, value);
  font += std::string(8, '\0') + std::string(64, '\0');
  emf.Record(82, {5}, font).Record(37, {5});
  emf.Record(18, {1});
  std::string text;
  for (std::int64_t value : {0, 0, 0, 0, 1, 0, 0, 40, 10, 2, 76, 0x100, 0, 0, 0, 0, 0}) Put32(text, value);
  text += std::string("H\0i\0", 4);
  emf.Raw(84, static_cast<std::uint32_t>(8 + text.size()), text);
  const auto picture = Played(emf.Bytes());
  EXPECT_EQ(picture->Pixel(10, 10), Black);
  EXPECT_EQ(picture->Pixel(30, 30), White);
  EXPECT_EQ(picture->Pixel(90, 50), Rgb(192, 192, 192));
  int ink = 0;
  for (int y = 10; y < 32; ++y)
    for (int x = 40; x < 70; ++x) ink += picture->Pixel(x, y) != White;
  EXPECT_GT(ink, 40);
  EXPECT_EQ(picture->Pixel(40, 45), White);
}

TEST(EmfPlayerTest, BitmapsFromTheirOffsetsAndBlended) {
  const std::string dib = PackedDib(2, 1, [](int x, int) { return x ? Blue : Green; });
  const std::string header = dib.substr(0, 40), bits = dib.substr(40);
  TEmfBytes emf = Picture();
  Brush(emf, 1, Red);
  Rectangle(emf, 0, 30, 100, 60);
  // STRETCHDIBITS with the pixels before the header: offsets 80 + 8 and 80.
  emf.Record(81, {0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 88, 40, 80, 8, 0, 0xCC0020, 100, 30}, bits + header);
  // ALPHABLEND at half opacity over the red: pixels follow the header.
  emf.Record(114, {0, 0, 0, 0, 0, 30, 100, 30, 0x00800000, 0, 0}, Floats({1, 0, 0, 1, 0, 0}) +
                                                                          std::string(8, '\0'));
  const auto picture = Played(emf.Bytes());
  EXPECT_EQ(picture->Pixel(25, 15), Green);
  EXPECT_EQ(picture->Pixel(75, 15), Blue);
  EXPECT_EQ(picture->Pixel(50, 45), Red);  // the blend had no bitmap: nothing drawn

  TEmfBytes blended = Picture();
  Brush(blended, 1, Red);
  Rectangle(blended, 0, 0, 100, 60);
  std::string fields;
  for (std::int64_t value : {0, 0, 0, 0, 0, 0, 100, 60, 0x00800000, 0, 0}) Put32(fields, value);
  fields += Floats({1, 0, 0, 1, 0, 0});
  for (std::int64_t value : {0, 0, 108, 40, 148, 8, 2, 1}) Put32(fields, value);
  blended.Raw(114, static_cast<std::uint32_t>(8 + fields.size() + dib.size()), fields + dib);
  const auto mixed = Played(blended.Bytes());
  EXPECT_NEAR(RedOf(mixed->Pixel(25, 30)), 127, 2);
  EXPECT_NEAR(GreenOf(mixed->Pixel(25, 30)), 128, 2);
  EXPECT_NEAR(BlueOf(mixed->Pixel(75, 30)), 128, 2);
}

TEST(EmfPlayerTest, BrokenRecordsEndTheDrawingAndStrayObjectsAreIgnored) {
  auto drawn = [](const std::function<void(TEmfBytes&)>& middle) {
    TEmfBytes emf = Picture();
    Brush(emf, 1, Red);
    middle(emf);
    Rectangle(emf, 0, 0, 100, 60);
    return Played(emf.Bytes())->Pixel(50, 30);
  };
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Record(200, {1, 2, 3}); }), Red);  // unknown
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Record(86, {0, 0, 0, 0, 1000}); }), Red);  // points past the record
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Record(91, {0, 0, 0, 0, 2, 8, 1000, 1000}); }), Red);
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Record(84, {0, 0, 0, 0, 1, 0, 0, 0, 0, 50, 9999}); }), Red);
  // Objects outside the table, or in its reserved first slot, are not made.
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Record(39, {70000, 0, Blue, 0}).Record(37, {70000}); }), Red);
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Record(39, {0, 0, Blue, 0}).Record(37, {0}); }), Red);
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Raw(43, 26, std::string(18, '\0')); }), White);  // not a multiple of 4
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Raw(43, 4, ""); }), White);                     // smaller than a header
  EXPECT_EQ(drawn([](TEmfBytes& emf) { emf.Raw(43, 0x7FFFFFF0, ""); }), White);            // past the end
}

}  // namespace
}  // namespace driftpost
