#include "picture/ColorManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace driftpost {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Converts one interleaved row into a target of exactly `targetSize` bytes prefilled with
// `fill`, so that a write past the row shows under the sanitizers and a skipped pixel
// shows as the fill.
Bytes Convert(TColorManager& manager, const Bytes& source, std::size_t targetSize, std::uint32_t count,
              std::uint8_t mask = 0xFF, std::uint8_t fill = 0) {
  Bytes target(targetSize, fill);
  manager.TranslateRow(source.data(), target.data(), count, mask);
  return target;
}

Bytes ConvertPlanes(TColorManager& manager, const std::vector<Bytes>& planes, std::size_t targetSize,
                    std::uint32_t count, std::uint8_t mask = 0xFF, std::uint8_t fill = 0) {
  std::vector<const std::uint8_t*> pointers;
  for (const Bytes& plane : planes) pointers.push_back(plane.data());
  Bytes target(targetSize, fill);
  manager.TranslateRow(pointers, target.data(), count, mask);
  return target;
}

void Describe(TColorManager& manager, TColorModel source, TColorModel target, unsigned sourceBits, unsigned targetBits,
           unsigned sourceSamples, unsigned targetSamples) {
  manager.SetSourceModel(source);
  manager.SetTargetModel(target);
  manager.SetSourceBits(sourceBits);
  manager.SetTargetBits(targetBits);
  manager.SetSourceSamples(sourceSamples);
  manager.SetTargetSamples(targetSamples);
}

template <typename Action>
std::string ErrorOf(Action&& action) {
  try {
    action();
  } catch (const EColorConversionError& error) {
    return error.Message();
  }
  return "";
}

const std::string kBitsMessage = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
const std::string kSamplesMessage = "Sample count per pixel does not correspond to the given color scheme.";
const std::string kMixMessage = "Conversion between indexed and non-indexed pixel formats is not supported.";
const std::string kNoMethodMessage = "Color conversion failed. Could not find a proper method.";

TEST(ColorManagerTest, NewManagerHasDefaultsAndSwapsRGBToBGR) {
  TColorManager manager;
  EXPECT_FLOAT_EQ(manager.MainGamma(), 1.0f);
  EXPECT_FLOAT_EQ(manager.DisplayGamma(), 2.2f);
  EXPECT_TRUE(manager.Changed());

  EXPECT_EQ(Convert(manager, {1, 2, 3, 4, 5, 6}, 6, 2), (Bytes{3, 2, 1, 6, 5, 4}));
  EXPECT_FALSE(manager.Changed());
}

TEST(ColorManagerTest, SettersRejectBadValuesAndMarkOnlyRealChanges) {
  TColorManager manager;
  manager.SetSourceBits(3);
  manager.SetSourceBits(12);
  EXPECT_EQ(manager.SourceBits(), 12);
  EXPECT_EQ(ErrorOf([&] { manager.SetSourceBits(0); }), kBitsMessage);
  EXPECT_EQ(ErrorOf([&] { manager.SetTargetBits(17); }), kBitsMessage);
  EXPECT_EQ(manager.SourceBits(), 12);
  EXPECT_EQ(manager.TargetBits(), 8);
  EXPECT_EQ(ErrorOf([&] { manager.SetSourceSamples(0); }), kSamplesMessage);
  EXPECT_EQ(ErrorOf([&] { manager.SetTargetSamples(5); }), kSamplesMessage);
  EXPECT_EQ(manager.TargetSamples(), 3);

  manager.SetSourceBits(8);
  manager.SelectConverter();
  manager.SetSourceBits(8);
  manager.SetSourceModel(cmRGB);
  manager.SourceFlags = {cfSwapBytes};
  manager.TargetFlags.Include(cfGammaCorrect);
  manager.SetGammaValues(1.5f, 2.0f);
  manager.SetYCbCrLayout({0.3f}, 2, 1);
  EXPECT_FALSE(manager.Changed());
  manager.SetTargetSamples(4);
  EXPECT_TRUE(manager.Changed());
}

TEST(ColorManagerTest, YCbCrLayoutStoresCoefficientsBeforeCheckingSubsampling) {
  TColorManager manager;
  manager.SetYCbCrLayout({0.2125f, 0.7154f}, 2, 2);
  EXPECT_EQ(manager.YCbCrCoefficients(), (std::array<float, 3>{0.2125f, 0.7154f, 0.114f}));
  EXPECT_EQ(manager.HorizontalSubsampling(), 2);
  EXPECT_EQ(manager.VerticalSubsampling(), 2);

  EXPECT_EQ(ErrorOf([&] { manager.SetYCbCrLayout({0.5f}, 3, 1); }),
            "Subsampling value is invalid. Allowed are 1, 2 and 4.");
  EXPECT_EQ(ErrorOf([&] { manager.SetYCbCrLayout({}, 2, 4); }),
            "Vertical subsampling value must be <= horizontal subsampling value.");
  EXPECT_FLOAT_EQ(manager.YCbCrCoefficients()[0], 0.5f);
  EXPECT_EQ(manager.HorizontalSubsampling(), 2);
  EXPECT_EQ(manager.VerticalSubsampling(), 2);
}

TEST(ColorManagerTest, ImpossibleCombinationsFailAtEveryRow) {
  TColorManager manager;
  manager.SetTargetModel(cmGray);
  Bytes row(3), target(3);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(row.data(), target.data(), 1); }), kMixMessage);
    EXPECT_TRUE(manager.Changed());
  }

  manager.SetSourceModel(cmCMY);
  manager.SetTargetModel(cmBGR);
  EXPECT_NO_THROW(manager.SelectConverter());
  for (int attempt = 0; attempt < 2; ++attempt)
    EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(row.data(), target.data(), 1); }), kNoMethodMessage);

  manager.SetSourceModel(cmIndexed);
  manager.SetTargetModel(cmGrayAlpha);
  EXPECT_EQ(ErrorOf([&] { manager.SelectConverter(); }), kMixMessage);
}

TEST(ColorManagerTest, RowsNarrowerThanTheirSchemeAreRefused) {
  TColorManager manager;
  Bytes row(4), target(16);
  manager.SetSourceSamples(1);  // an interleaved RGB pixel needs three samples
  EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(row.data(), target.data(), 1); }), kNoMethodMessage);

  manager.SetSourceSamples(3);
  const std::uint8_t* twoPlanes[2] = {row.data(), row.data()};
  EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(twoPlanes, target.data(), 1); }), kNoMethodMessage);

  Describe(manager, cmRGBA, cmBGRA, 8, 8, 3, 4);  // alpha to copy, but no fourth sample
  EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(row.data(), target.data(), 1); }), kNoMethodMessage);

  Describe(manager, cmCMYK, cmBGR, 8, 8, 3, 3);
  EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(row.data(), target.data(), 1); }), kNoMethodMessage);
  manager.SetSourceSamples(4);  // three CMYK planes are one short, however wide the pixels
  const std::uint8_t* threePlanes[3] = {row.data(), row.data(), row.data()};
  EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(threePlanes, target.data(), 1); }), kNoMethodMessage);
  EXPECT_EQ(ErrorOf([&] { manager.TranslateRow(std::span<const std::uint8_t* const>(), target.data(), 1); }),
            kNoMethodMessage);
}

TEST(ColorManagerTest, SelectConverterKeepsAlphaFlagsInStepWithSchemes) {
  TColorManager manager;
  manager.SourceFlags = {cfAlpha, cfSwapBytes};
  manager.TargetFlags = {cfAlpha};
  manager.SelectConverter();
  EXPECT_EQ(manager.SourceFlags, TConversionFlags{cfSwapBytes});
  EXPECT_EQ(manager.TargetFlags, TConversionFlags{});

  Describe(manager, cmGrayAlpha, cmIndexed, 8, 8, 2, 1);
  manager.SelectConverter();
  EXPECT_TRUE(manager.SourceFlags.Contains(cfAlpha));
  EXPECT_FALSE(manager.TargetFlags.Contains(cfAlpha));
}

TEST(ColorManagerTest, SixteenBitSamplesAreSwappedThenScaledDown) {
  TColorManager manager;
  manager.SetSourceBits(16);
  manager.SourceFlags = {cfSwapBytes};
  // Big-endian red FFFF, green 0100 (256), blue FFFE.
  EXPECT_EQ(Convert(manager, {0xFF, 0xFF, 0x01, 0x00, 0xFF, 0xFE}, 3, 1), (Bytes{254, 0, 255}));
  manager.SourceFlags = {};
  EXPECT_EQ(Convert(manager, {0xFF, 0xFF, 0x00, 0x01, 0xFE, 0xFF}, 3, 1), (Bytes{254, 0, 255}));
}

TEST(ColorManagerTest, EveryRGBOrderAndAlphaCombination) {
  TColorManager manager;
  const Bytes pixel = {10, 20, 30, 40};
  Describe(manager, cmRGB, cmRGB, 8, 8, 3, 3);
  EXPECT_EQ(Convert(manager, {10, 20, 30}, 3, 1), (Bytes{10, 20, 30}));
  Describe(manager, cmBGR, cmRGB, 8, 8, 3, 3);
  EXPECT_EQ(Convert(manager, {10, 20, 30}, 3, 1), (Bytes{30, 20, 10}));
  Describe(manager, cmBGR, cmBGR, 8, 8, 3, 3);
  EXPECT_EQ(Convert(manager, {10, 20, 30}, 3, 1), (Bytes{10, 20, 30}));

  Describe(manager, cmRGBA, cmBGRA, 8, 8, 4, 4);
  EXPECT_EQ(Convert(manager, pixel, 4, 1), (Bytes{30, 20, 10, 40}));
  Describe(manager, cmRGBA, cmBGR, 8, 8, 4, 3);  // source alpha skipped, 3-byte target
  EXPECT_EQ(Convert(manager, {1, 2, 3, 4, 5, 6, 7, 8}, 6, 2), (Bytes{3, 2, 1, 7, 6, 5}));
  Describe(manager, cmRGB, cmBGRA, 8, 8, 3, 4);  // no alpha to copy: the target's stays
  EXPECT_EQ(Convert(manager, {10, 20, 30}, 4, 1, 0xFF, 0x99), (Bytes{30, 20, 10, 0x99}));
  Describe(manager, cmBGRA, cmRGBA, 16, 8, 4, 4);  // alpha is scaled like a colour
  EXPECT_EQ(Convert(manager, {0, 0, 0xFF, 0xFF, 0, 0x80, 0xFF, 0xFF}, 4, 1), (Bytes{127, 255, 0, 255}));

  // Planes in the scheme's order, alpha last.
  Describe(manager, cmRGBA, cmBGRA, 8, 8, 4, 4);
  EXPECT_EQ(ConvertPlanes(manager, {{1, 5}, {2, 6}, {3, 7}, {4, 8}}, 8, 2), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
  Describe(manager, cmRGB, cmBGR, 16, 8, 3, 3);
  manager.SourceFlags = {cfSwapBytes};
  EXPECT_EQ(ConvertPlanes(manager, {{0xFF, 0xFF}, {0x00, 0x00}, {0x80, 0x00}}, 3, 1), (Bytes{127, 0, 255}));
}

TEST(ColorManagerTest, GammaTableAndGammaCorrection) {
  TColorManager manager;
  const auto& table = manager.GammaTable();
  // round((i / 255)^(1 / 2.2) × 255)
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[1], 21);
  EXPECT_EQ(table[128], 186);
  EXPECT_EQ(table[255], 255);

  Describe(manager, cmRGBA, cmBGRA, 8, 8, 4, 4);
  manager.TargetFlags = {cfGammaCorrect};
  EXPECT_EQ(Convert(manager, {10, 64, 128, 10}, 4, 1), (Bytes{186, 136, 59, 10}));  // alpha untouched

  manager.SetGammaValues(0.0f, -1.0f);  // both fall back
  EXPECT_FLOAT_EQ(manager.MainGamma(), 1.0f);
  EXPECT_FLOAT_EQ(manager.DisplayGamma(), 2.2f);
  manager.SetGammaValues(1.0f / 2.2f, 2.2f);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(manager.GammaTable()[i], i);

  // Four-bit targets: a table of 0..15 levels.
  manager.SetTargetBits(4);
  manager.SetGammaValues(1.0f, 1.0f);
  EXPECT_EQ(manager.GammaTable()[255], 15);
  EXPECT_EQ(manager.GammaTable()[128], 8);
}

TEST(ColorManagerTest, NarrowSourcesWithWideTargetsKeepTheGammaTableInBounds) {
  TColorManager manager;
  manager.SetSourceBits(4);
  manager.SetTargetBits(16);
  manager.SetGammaValues(1.0f, 1.0f);  // would index 65536 entries of a 256-entry table
  EXPECT_EQ(manager.GammaTable()[255], 255);
  manager.SetTargetBits(2);
  manager.SetGammaValues(1.0f, 1.0f);  // rebuilds entries 0..3 on a 0..3 scale
  EXPECT_EQ(manager.GammaTable()[3], 3);
  EXPECT_EQ(manager.GammaTable()[4], 4);
}

TEST(ColorManagerTest, MaskConvertsOnlyItsPixelsAndSavesTheSource) {
  TColorManager manager;
  manager.SetSourceModel(cmBGR);
  // 0x55: the second, fourth, sixth and eighth pixel of every eight; 10 pixels in all, so
  // the second group brings the tenth. Five source pixels.
  Bytes source;
  for (std::uint8_t i = 1; i <= 5; ++i) source.insert(source.end(), {i, i, i});
  Bytes target = Convert(manager, source, 30, 10, 0x55, 0xEE);
  for (int pixel = 0; pixel < 10; ++pixel) {
    std::uint8_t expected = pixel % 2 ? static_cast<std::uint8_t>(pixel / 2 + 1) : 0xEE;
    for (int byte = 0; byte < 3; ++byte) EXPECT_EQ(target[pixel * 3 + byte], expected) << pixel;
  }
}

TEST(ColorManagerTest, CMYKInterleavedPlanarAndSixteenBit) {
  TColorManager manager;
  Describe(manager, cmCMYK, cmBGR, 8, 8, 4, 3);
  EXPECT_EQ(Convert(manager, {0, 0, 0, 0}, 3, 1), (Bytes{255, 255, 255}));
  EXPECT_EQ(Convert(manager, {17, 200, 3, 255}, 3, 1), (Bytes{0, 0, 0}));
  // (255 - X)(255 - K) / 255: red 155 × 235 / 255 = 142, green 205 × 235 / 255 = 188.
  EXPECT_EQ(Convert(manager, {100, 50, 0, 20}, 3, 1), (Bytes{235, 188, 142}));
  EXPECT_EQ(ConvertPlanes(manager, {{100}, {50}, {0}, {20}}, 3, 1), (Bytes{235, 188, 142}));
  manager.SetTargetModel(cmRGBA);
  EXPECT_EQ(Convert(manager, {100, 50, 0, 20}, 4, 1, 0xFF, 7), (Bytes{142, 188, 235, 7}));

  Describe(manager, cmCMYK, cmRGB, 16, 8, 4, 3);
  manager.SourceFlags = {cfSwapBytes};
  // Cyan 0x8000, magenta full, yellow 0, black 0: 255 - 32768 × 255 / 65535 = 128.
  EXPECT_EQ(Convert(manager, {0x80, 0x00, 0xFF, 0xFF, 0, 0, 0, 0}, 3, 1), (Bytes{128, 0, 255}));
  EXPECT_EQ(Convert(manager, {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 3, 1), (Bytes{0, 0, 0}));
}

TEST(ColorManagerTest, LabThroughXYZ) {
  TColorManager manager;
  Describe(manager, cmLab, cmRGB, 8, 8, 3, 3);
  // L 50, a 20, b -30 as signed bytes: XYZ gives 52.89, 39.68, 100.55 on a 0..255 scale.
  EXPECT_EQ(Convert(manager, {50, 20, 0xE2}, 3, 1), (Bytes{53, 40, 101}));
  // Below L 8 the linear branch: L 5 gives 1.41 in each channel.
  EXPECT_EQ(Convert(manager, {5, 0, 0}, 3, 1), (Bytes{1, 1, 1}));
  EXPECT_EQ(Convert(manager, {5, 100, 0x9C}, 3, 1), (Bytes{12, 0, 20}));

  manager.SourceFlags = {cfLabScaledL, cfLabOffsetAB};
  manager.SetTargetModel(cmBGR);
  EXPECT_EQ(Convert(manager, {255, 128, 128}, 3, 1), (Bytes{255, 255, 255}));
  manager.SourceFlags = {cfLabOffsetAB};
  EXPECT_EQ(ConvertPlanes(manager, {{70}, {88}, {188}}, 3, 1), (Bytes{11, 128, 58}));
}

TEST(ColorManagerTest, YCbCrAndPhotoYCCThroughChromaTables) {
  TColorManager manager;
  Describe(manager, cmYCbCr, cmBGR, 8, 8, 3, 3);
  EXPECT_EQ(Convert(manager, {128, 128, 128}, 3, 1), (Bytes{128, 128, 128}));
  EXPECT_EQ(Convert(manager, {100, 50, 200, 200, 180, 60}, 6, 2), (Bytes{0, 76, 201, 255, 231, 105}));
  // 16-bit samples are scaled down first, read in the file's byte order: Y FF00 gives 254,
  // Cb and Cr 8000 give 127.
  manager.SetSourceBits(16);
  manager.SourceFlags = {cfSwapBytes};
  EXPECT_EQ(Convert(manager, {0xFF, 0x00, 0x80, 0x00, 0x80, 0x00}, 3, 1), (Bytes{252, 255, 253}));

  Describe(manager, cmPhotoYCC, cmRGB, 8, 8, 3, 3);
  manager.SetYCbCrLayout({0.2125f, 0.7154f, 0.0721f}, 2, 2);
  EXPECT_EQ(Convert(manager, {100, 156, 137}, 3, 1), (Bytes{100, 100, 100}));
  EXPECT_EQ(ConvertPlanes(manager, {{128, 90}, {128, 170}, {128, 120}}, 6, 2),
            (Bytes{114, 137, 76, 63, 95, 116}));
}

TEST(ColorManagerTest, DegenerateLumaCoefficientsStillGiveBytes) {
  // Coefficients come from files: a green coefficient of 0 makes the green factors
  // infinite (and 0 × infinity for the centre entry).
  TColorManager manager;
  Describe(manager, cmYCbCr, cmRGB, 8, 8, 3, 3);
  manager.SetYCbCrLayout({0.299f, 0.0f, 0.114f}, 1, 1);
  EXPECT_EQ(Convert(manager, {100, 128, 200}, 3, 1), (Bytes{201, 0, 100}));
  EXPECT_EQ(Convert(manager, {100, 128, 128}, 3, 1), (Bytes{100, 100, 100}));
  manager.SetYCbCrLayout({std::nanf(""), std::nanf(""), INFINITY}, 1, 1);
  manager.SetSourceModel(cmPhotoYCC);
  EXPECT_NO_THROW(Convert(manager, {100, 0, 255}, 3, 1));
}

TEST(ColorManagerTest, GreyConverterSkipsAlphaAndScalesSixteenBits) {
  TColorManager manager;
  Describe(manager, cmGrayAlpha, cmIndexed, 8, 8, 2, 1);
  EXPECT_EQ(Convert(manager, {10, 255, 20, 0, 30, 7}, 3, 3), (Bytes{10, 20, 30}));
  manager.TargetFlags = {cfGammaCorrect};  // grey levels go to the palette, not the gamma table
  EXPECT_EQ(Convert(manager, {10, 255}, 1, 1), (Bytes{10}));

  Describe(manager, cmGray, cmGray, 16, 8, 1, 1);
  manager.SourceFlags = {cfSwapBytes};
  EXPECT_EQ(Convert(manager, {0xFF, 0xFF, 0x01, 0x00, 0x80, 0x00}, 3, 3), (Bytes{255, 0, 127}));
  Describe(manager, cmGrayAlpha, cmIndexed, 16, 8, 2, 1);
  EXPECT_EQ(Convert(manager, {0xFF, 0xFF, 0, 0, 0x40, 0x00, 0xFF, 0xFF}, 2, 2, 0xFF), (Bytes{255, 63}));
  Describe(manager, cmGray, cmGray, 16, 16, 1, 1);
  EXPECT_EQ(Convert(manager, {0x12, 0x34}, 2, 1), (Bytes{0x34, 0x12}));
}

TEST(ColorManagerTest, PackedIndicesAndGreyLevels) {
  TColorManager manager;
  // Same depth, every pixel: a plain copy of ceil(count × bits / 8) bytes.
  Describe(manager, cmIndexed, cmIndexed, 4, 4, 1, 1);
  EXPECT_EQ(Convert(manager, {0x12, 0x30}, 2, 3), (Bytes{0x12, 0x30}));

  // Widened palette indices keep naming the same entry; grey levels are rescaled.
  Describe(manager, cmIndexed, cmIndexed, 2, 4, 1, 1);
  EXPECT_EQ(Convert(manager, {0b00011011}, 2, 4), (Bytes{0x01, 0x23}));
  manager.SetSourceModel(cmGray);
  manager.SetTargetModel(cmGray);
  EXPECT_EQ(Convert(manager, {0b00011011}, 2, 4), (Bytes{0x05, 0xAF}));
  Describe(manager, cmGray, cmGray, 4, 1, 1, 1);
  EXPECT_EQ(Convert(manager, {0xF7, 0x0F, 0xF0}, 1, 6), (Bytes{0b10011000}));

  // A masked 1-bit row keeps the bits of the pixels it skips.
  Describe(manager, cmIndexed, cmIndexed, 1, 1, 1, 1);
  EXPECT_EQ(Convert(manager, {0b1010'0000}, 1, 8, 0xAA, 0b0101'0101), (Bytes{0b1101'1101}));

  // Odd widths pack without gaps: 3-bit indices 1..5 into 5 bits each (25 bits, 4 bytes).
  Describe(manager, cmIndexed, cmIndexed, 3, 5, 1, 1);
  EXPECT_EQ(Convert(manager, {0b001'010'01, 0b1'100'101'0}, 4, 5),
            (Bytes{0b00001'000, 0b10'00011'0, 0b0100'0010, 0b1'0000000}));
}

TEST(ColorManagerTest, SixteenBitIndices) {
  TColorManager manager;
  Describe(manager, cmIndexed, cmIndexed, 16, 8, 1, 1);
  manager.SourceFlags = {cfSwapBytes};
  EXPECT_EQ(Convert(manager, {0xFF, 0xFF, 0x01, 0x00}, 2, 2), (Bytes{255, 0}));
  Describe(manager, cmIndexed, cmIndexed, 16, 16, 1, 1);
  EXPECT_EQ(Convert(manager, {0x12, 0x34}, 2, 1), (Bytes{0x34, 0x12}));
  Describe(manager, cmIndexed, cmIndexed, 4, 16, 1, 1);
  manager.SourceFlags = {};
  EXPECT_EQ(Convert(manager, {0x5C}, 4, 2), (Bytes{5, 0, 12, 0}));
}

TEST(ColorManagerTest, OtherSampleSizesLeaveColourRowsUntouched) {
  TColorManager manager;
  manager.SetSourceBits(12);
  EXPECT_EQ(Convert(manager, Bytes(5), 3, 1, 0xFF, 0x77), Bytes(3, 0x77));
  manager.SetSourceBits(8);
  manager.SetTargetBits(16);
  EXPECT_EQ(Convert(manager, Bytes(3), 3, 1, 0xFF, 0x77), Bytes(3, 0x77));
}

TEST(ColorManagerTest, BitmapDepthFollowsSamplesAndBits) {
  TColorManager manager;
  struct Case {
    unsigned samples, bits;
    TPixelDepth depth;
  };
  for (Case c : {Case{1, 1, pd1Bit}, {1, 2, pd4Bit}, {1, 4, pd4Bit}, {1, 5, pdCustom}, {1, 8, pd8Bit},
                 {1, 16, pd8Bit}, {2, 8, pdCustom}, {3, 5, pd15Bit}, {3, 8, pd24Bit}, {3, 16, pd24Bit},
                 {4, 4, pdCustom}, {4, 8, pd32Bit}}) {
    manager.SetTargetSamples(c.samples);
    manager.SetTargetBits(c.bits);
    EXPECT_EQ(manager.BitmapDepth(), c.depth) << c.samples << "x" << c.bits;
  }
  manager.SetSourceSamples(1);
  manager.SetSourceBits(1);
  EXPECT_EQ(manager.BitmapDepth(TColorSide::Source), pd1Bit);
}

TEST(ColorManagerTest, GreyPalettes) {
  TColorManager manager;
  Describe(manager, cmGray, cmGray, 1, 1, 1, 1);
  EXPECT_EQ(manager.BuildGrayPalette(false), (TPalette{{0, 0, 0, 0}, {255, 255, 255, 0}}));
  EXPECT_EQ(manager.BuildGrayPalette(true), (TPalette{{255, 255, 255, 0}, {0, 0, 0, 0}}));

  manager.SetTargetBits(4);
  TPalette sixteen = manager.BuildGrayPalette(false);
  ASSERT_EQ(sixteen.size(), 16u);
  EXPECT_EQ(sixteen[1].Red, 17);
  EXPECT_EQ(sixteen[15].Blue, 255);

  manager.SetTargetBits(8);
  manager.TargetFlags = {cfGammaCorrect};
  TPalette ramp = manager.BuildGrayPalette(true);
  ASSERT_EQ(ramp.size(), 256u);
  EXPECT_EQ(ramp[255 - 64], (TPaletteEntry{136, 136, 136, 0}));
}

TEST(ColorManagerTest, PalettesFromEveryRawLayout) {
  TColorManager manager;
  const Bytes triples = {1, 2, 3, 4, 5, 6};
  const std::uint8_t* one[] = {triples.data()};
  EXPECT_EQ(manager.BuildPalette(one, plInterleaved8Triple, 2, false), (TPalette{{1, 2, 3, 0}, {4, 5, 6, 0}}));
  EXPECT_EQ(manager.BuildPalette(one, plInterleaved8Triple, 2, true), (TPalette{{3, 2, 1, 0}, {6, 5, 4, 0}}));

  const Bytes quads = {1, 2, 3, 99, 4, 5, 6, 99};
  const std::uint8_t* quadData[] = {quads.data()};
  EXPECT_EQ(manager.BuildPalette(quadData, plInterleaved8Quad, 2, true), (TPalette{{3, 2, 1, 0}, {6, 5, 4, 0}}));

  const Bytes red = {10, 11}, green = {20, 21}, blue = {30, 31};
  const std::uint8_t* planes[] = {red.data(), green.data(), blue.data()};
  EXPECT_EQ(manager.BuildPalette(planes, plPlanar8Triple, 2, true), (TPalette{{10, 20, 30, 0}, {11, 21, 31, 0}}));

  // A TIFF colour map: planes of big-endian 16-bit values.
  manager.SourceFlags = {cfSwapBytes};
  const Bytes red16 = {0xFF, 0xFF}, green16 = {0x80, 0x00}, blue16 = {0x00, 0xFF};
  const std::uint8_t* planes16[] = {red16.data(), green16.data(), blue16.data()};
  EXPECT_EQ(manager.BuildPalette(planes16, plPlanar16Triple, 1, false), (TPalette{{255, 127, 0, 0}}));
  const Bytes interleaved16 = {0xFF, 0xFF, 0x80, 0x00, 0x00, 0xFF, 0, 0};
  const std::uint8_t* wide[] = {interleaved16.data()};
  EXPECT_EQ(manager.BuildPalette(wide, plInterleaved16Quad, 1, false), (TPalette{{255, 127, 0, 0}}));

  manager.TargetFlags = {cfGammaCorrect};
  EXPECT_EQ(manager.BuildPalette(planes, plPlanar8Quad, 1, false), (TPalette{{59, 80, 96, 0}}));

  Bytes big(3 * 300, 7);
  const std::uint8_t* bigData[] = {big.data()};
  manager.TargetFlags = {};
  EXPECT_EQ(manager.BuildPalette(bigData, plInterleaved8Triple, 300, false).size(), 256u);
  EXPECT_EQ(ErrorOf([&] { manager.BuildPalette(one, plPlanar8Triple, 2, false); }), kNoMethodMessage);
}

}  // namespace
}  // namespace driftpost
