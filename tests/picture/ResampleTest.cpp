#include "picture/Resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

#include "PictureTestSupport.h"
#include "picture/Bitmap.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::FirstDifference;
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

// The passes as the algorithm describes them, in the plainest form: every row into the
// intermediate picture, then every column, each channel the integer sum of weighed pixels
// divided by the total of weights. Source pixels are read through Pixel(), so any format works.
std::string PlainResample(const TBitmap& source, std::uint32_t width, std::uint32_t height, TResampleFilter filter,
                          float radius) {
  const std::uint32_t sw = static_cast<std::uint32_t>(source.Width()), sh = static_cast<std::uint32_t>(source.Height());
  auto weigh = [](const TContributorEntry& entry, auto value) {
    std::int32_t total = 0, sum[3] = {};
    for (std::int32_t k = 0; k < entry.Count; ++k) {
      const TContributor& contributor = entry.Contributors[static_cast<std::size_t>(k)];
      total += contributor.Weight;
      for (int c = 0; c < 3; ++c) sum[c] += value(contributor.Pixel, c) * contributor.Weight;
    }
    std::array<std::uint8_t, 3> out;
    for (int c = 0; c < 3; ++c) {
      const std::int64_t v = total != 0 ? sum[c] / total : static_cast<std::int64_t>(static_cast<std::uint32_t>(sum[c]) >> 8);
      out[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
    }
    return out;
  };
  const TContributorList across = BuildContributors(sw, width, ResampleScale(sw, width), radius, filter);
  const TContributorList down = BuildContributors(sh, height, ResampleScale(sh, height), radius, filter);
  std::vector<std::array<std::uint8_t, 3>> middle(static_cast<std::size_t>(width) * sh);  // red, green, blue
  for (std::uint32_t y = 0; y < sh; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      middle[y * width + x] = weigh(across[x], [&](int pixel, int c) {
        const TColor color = source.Pixel(pixel, static_cast<int>(y));
        return static_cast<std::int32_t>(c == 0 ? RedOf(color) : c == 1 ? GreenOf(color) : BlueOf(color));
      });
  std::string out;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      for (std::uint8_t value : weigh(down[y], [&](int pixel, int c) {
             return static_cast<std::int32_t>(middle[static_cast<std::size_t>(pixel) * width + x][static_cast<std::size_t>(c)]);
           }))
        out += static_cast<char>(value);
  return out;
}

TEST(ResampleTest, EveryPixelFormatFilterAndSizeGivesThePlainComputationsResult) {
  // Grain over the whole range of each channel, so sums come close to every boundary of
  // their quotients.
  std::uint32_t noise = 2024;
  TBitmap grain;
  PaintBitmap(grain, 37, 29, [&](int x, int y) {
    noise = noise * 1664525 + 1013904223;
    return RGBColor(static_cast<std::uint8_t>(noise >> 24), static_cast<std::uint8_t>(x * 7 + (noise >> 20 & 15)),
                    static_cast<std::uint8_t>(y * 9));
  });
  const struct {
    TPixelDepth Format;
    TResampleFilter Filter;
    std::uint32_t Width, Height;
    float Radius;
  } cases[] = {
      {pd24Bit, rfTriangle, 11, 8, 0},   // shrinking, as the program does
      {pd24Bit, rfTriangle, 37, 29, 0},  // the same size
      {pd24Bit, rfTriangle, 80, 61, 0},  // enlarging
      {pd24Bit, rfTriangle, 1, 1, 0},
      {pd24Bit, rfLanczos3, 13, 9, 0},   // negative lobes: the integer division
      {pd24Bit, rfMitchell, 50, 7, 0},
      {pd24Bit, rfBox, 20, 15, 0},
      {pd24Bit, rfBell, 9, 30, 0.7f},
      {pd8Bit, rfTriangle, 12, 9, 0},    // read a row at a time in their own format
      {pd32Bit, rfTriangle, 12, 9, 0},
      {pd16Bit, rfHermite, 12, 9, 0},
      {pd1Bit, rfSpline, 6, 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << int{c.Format} << ", filter " << int{c.Filter} << ", " << c.Width
                                    << "x" << c.Height);
    TBitmap bitmap;
    bitmap.CopyFrom(&grain);
    bitmap.SetPixelFormat(c.Format);
    const float radius = c.Radius > 0 ? c.Radius : DefaultFilterRadius(c.Filter);
    const std::string expected = PlainResample(bitmap, c.Width, c.Height, c.Filter, radius);
    Resample(c.Width, c.Height, c.Filter, c.Radius, bitmap);
    ASSERT_EQ(bitmap.PixelFormat(), pd24Bit);
    const std::string actual = RgbBytes(bitmap);
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);
  }
}

TEST(ResampleTest, TheQuickDivisionGivesTheIntegerQuotientAtEveryBoundary) {
  // Around every multiple of every total that can take the quick way, up to the largest sum
  // that pixels of at most 255 make, and beyond the clamp.
  int quick = 0;
  for (std::int32_t total = 1; total <= TChannelDivision::QuickTotalLimit; ++total) {
    const TChannelDivision division(total, true);
    ASSERT_NE(division.Reciprocal, 0) << total;
    ++quick;
    for (std::int32_t quotient = 0; quotient <= 256; ++quotient)
      for (std::int32_t sum : {quotient * total - 1, quotient * total, quotient * total + total - 1}) {
        if (sum < 0 || sum > 255 * total) continue;
        ASSERT_EQ(division.Quick(static_cast<float>(sum)), division.Exact(sum)) << sum << " / " << total;
      }
  }
  EXPECT_EQ(quick, TChannelDivision::QuickTotalLimit);
  // Negative weights, no total or a large one: the integer division, as the filters need it.
  EXPECT_EQ(TChannelDivision(300, false).Reciprocal, 0);
  EXPECT_EQ(TChannelDivision(0, true).Reciprocal, 0);
  EXPECT_EQ(TChannelDivision(TChannelDivision::QuickTotalLimit + 1, true).Reciprocal, 0);
  EXPECT_EQ(TChannelDivision(-256, false).Exact(-256 * 7), 7);
  EXPECT_EQ(TChannelDivision(256, false).Exact(-5), 0);
  EXPECT_EQ(TChannelDivision(0, false).Exact(-1), 255);  // 0xFFFFFFFF >> 8, clamped
  EXPECT_EQ(TChannelDivision(0, false).Exact(100 << 8), 100);
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
