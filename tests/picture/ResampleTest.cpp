#include "picture/Resample.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "PictureTestSupport.h"
#include "picture/Bitmap.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::PaintBitmap;
using testing::RgbBytes;

// The bitmap's pixels as hex bytes in memory order (blue, green, red), top row first.
std::string HexPixels(const TBitmap& bitmap) {
  std::string out;
  char buffer[8];
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TColor color = bitmap.Pixel(x, y);
      std::snprintf(buffer, sizeof buffer, "%02x%02x%02x", BlueOf(color), GreenOf(color), RedOf(color));
      out += buffer;
    }
  return out;
}

void PaintGradient(TBitmap& bitmap) {
  PaintBitmap(bitmap, 9, 5, [](int x, int y) {
    return RGBColor(static_cast<std::uint8_t>(20 + 25 * x), static_cast<std::uint8_t>(200 - 30 * y),
                    static_cast<std::uint8_t>((x * y * 17) % 256));
  });
}

TEST(ResampleTest, EveryFilterMatchesAnIndependentComputation) {
  std::ifstream expected(DataFile("resample/expected.txt"));
  ASSERT_TRUE(expected.good());
  std::string line;
  int cases = 0;
  while (std::getline(expected, line)) {
    std::istringstream fields(line);
    int filter, width, height;
    float radius;
    std::string pixels;
    fields >> filter >> width >> height >> radius >> pixels;
    SCOPED_TRACE(line.substr(0, 20));
    TBitmap bitmap;
    PaintGradient(bitmap);
    Resample(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
             static_cast<TResampleFilter>(filter), radius, bitmap);
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), height);
    EXPECT_EQ(HexPixels(bitmap), pixels);
    ++cases;
  }
  EXPECT_EQ(cases, 30);
}

TEST(ResampleTest, HalvingWithTheTriangleFilterWeighsAroundTheSourceCorners) {
  const float scale = ResampleScale(640, 320);
  EXPECT_EQ(scale, 319.0f / 639.0f);
  const TContributorList list = BuildContributors(640, 320, scale, 1.0f, rfTriangle);
  ASSERT_EQ(list.size(), 320u);
  for (const TContributorEntry& entry : list) EXPECT_EQ(entry.Contributors.size(), 5u);  // support 2.003
  ASSERT_EQ(list[0].Count, 3);
  // Mirrored at the left edge: pixel 1 stands in for pixel -1.
  EXPECT_EQ(list[0].Contributors[0].Pixel, 1);
  EXPECT_EQ(list[0].Contributors[0].Weight, 64);
  EXPECT_EQ(list[0].Contributors[1].Pixel, 0);
  EXPECT_EQ(list[0].Contributors[1].Weight, 128);
  EXPECT_EQ(list[0].Contributors[2].Pixel, 1);
  EXPECT_EQ(list[0].Contributors[2].Weight, 64);
  // At the right edge index 640 reflects onto 639.
  const TContributorEntry& last = list[319];
  ASSERT_EQ(last.Count, 3);
  EXPECT_EQ(last.Contributors[1].Pixel, 639);
  EXPECT_EQ(last.Contributors[2].Pixel, 639);

  TBitmap bitmap;
  PaintBitmap(bitmap, 640, 480, [](int x, int y) {
    return RGBColor(static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 7), 77);
  });
  Resample(320, 240, rfTriangle, 0, bitmap);
  EXPECT_EQ(bitmap.Width(), 320);
  EXPECT_EQ(bitmap.Height(), 240);
  EXPECT_EQ(bitmap.PixelFormat(), pd24Bit);
  // (64 × 7 + 128 × 0 + 64 × 7) / 256 = 3.5, truncated, in both directions.
  EXPECT_EQ(bitmap.Pixel(0, 0), RGBColor(3, 3, 77));
}

TEST(ResampleTest, RadiusZeroPicksTheDefaultAndOthersAreUsedAsGiven) {
  TBitmap byDefault, byThree, byOne;
  for (TBitmap* bitmap : {&byDefault, &byThree, &byOne}) PaintGradient(*bitmap);
  Resample(4, 3, rfLanczos3, 0, byDefault);
  Resample(4, 3, rfLanczos3, 3, byThree);
  Resample(4, 3, rfLanczos3, 1, byOne);
  EXPECT_EQ(RgbBytes(byDefault), RgbBytes(byThree));
  EXPECT_NE(RgbBytes(byDefault), RgbBytes(byOne));
  // Capacity trunc(2 × 2.667 + 1) = 6, but the loop from floor(-2.667) to ceil(2.667) meets
  // seven pixels of non-zero weight when the radius cuts a filter short: the list grows.
  const TContributorEntry cut = BuildContributors(9, 4, ResampleScale(9, 4), 1, rfLanczos3)[0];
  EXPECT_EQ(cut.Count, 7);
  EXPECT_EQ(cut.Contributors.size(), 7u);
  EXPECT_EQ(BuildContributors(9, 4, ResampleScale(9, 4), 3, rfLanczos3)[0].Contributors.size(), 17u);
  // Beyond the filter's own support the weights are 0: the lists stop there.
  EXPECT_EQ(BuildContributors(9, 4, ResampleScale(9, 4), 1e30f, rfLanczos3)[0].Contributors.size(), 17u);
  EXPECT_EQ(ResampleScale(9, 1), 1.0f / 9.0f);
  EXPECT_EQ(ResampleScale(1, 7), 7.0f);
}

TEST(ResampleTest, OnePixelGrowsIntoAPlainPicture) {
  TBitmap bitmap;
  PaintBitmap(bitmap, 1, 1, [](int, int) { return RGBColor(12, 34, 56); });
  Resample(5, 4, rfTriangle, 0, bitmap);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.Pixel(x, y), RGBColor(12, 34, 56));
}

TEST(ResampleTest, ZeroSizesAndOtherPixelFormats) {
  TBitmap bitmap;
  PaintGradient(bitmap);
  Resample(0, 3, rfTriangle, 0, bitmap);
  EXPECT_TRUE(bitmap.Empty());

  TBitmap empty;  // no pixels: the new size, white
  Resample(3, 2, rfTriangle, 0, empty);
  EXPECT_EQ(empty.Width(), 3);
  EXPECT_EQ(RgbBytes(empty), std::string(3 * 2 * 3, '\xff'));

  TBitmap same;
  PaintGradient(same);
  const std::string before = RgbBytes(same);
  Resample(9, 5, rfBox, 0, same);
  EXPECT_EQ(RgbBytes(same), before);

  TBitmap indexed;
  PaintBitmap(indexed, 4, 4, [](int x, int) { return x < 2 ? clBlack : clWhite; });
  indexed.SetPixelFormat(pd1Bit);
  Resample(2, 2, rfBox, 0, indexed);
  EXPECT_EQ(indexed.PixelFormat(), pd24Bit);
  EXPECT_EQ(indexed.Pixel(0, 0), clBlack);
  EXPECT_EQ(indexed.Pixel(1, 1), clWhite);

  TBitmap huge;
  EXPECT_THROW(Resample(100000, 100000, rfTriangle, 0, huge), EInvalidGraphic);
}

}  // namespace
}  // namespace driftpost
