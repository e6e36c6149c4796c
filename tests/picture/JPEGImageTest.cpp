#include "picture/JPEGImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include "PictureTestSupport.h"
#include "picture/Icon.h"
#include "picture/Metafile.h"
#include "picture/Picture.h"
#include "picture/FormatRegistry.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::FirstDifference;
using testing::PaintBitmap;
using testing::ReadData;
using testing::RenderedRgb;

// The segments of a JPEG file up to its first scan, by marker.
std::vector<std::pair<int, std::string>> Segments(const std::string& file) {
  std::vector<std::pair<int, std::string>> segments;
  std::size_t at = 2;
  while (at + 4 <= file.size() && static_cast<unsigned char>(file[at]) == 0xFF) {
    const int marker = static_cast<unsigned char>(file[at + 1]);
    const std::size_t length = static_cast<unsigned char>(file[at + 2]) << 8 | static_cast<unsigned char>(file[at + 3]);
    segments.emplace_back(marker, file.substr(at + 4, length - 2));
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  return segments;
}

// The quantisation table libjpeg makes from a standard table for a quality of 90, in the
// zig-zag order the file stores it.
std::string QualityNinetyTable(const int (&base)[64]) {
  static const int zigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  std::string table;
  for (int k = 0; k < 64; ++k) table += static_cast<char>(std::clamp((base[zigzag[k]] * 20 + 50) / 100, 1, 255));
  return table;
}

const int Luminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                           14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                           18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                           49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int Chrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                             24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                             99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                             99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

std::string Saved(TJPEGImage& jpeg) {
  TMemoryStream stream;
  jpeg.SaveStream(stream);
  return stream.AsString();
}

void LoadBytes(TJPEGImage& jpeg, const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  jpeg.LoadStream(stream);
}

// A PPM file's pixels.
std::string PpmPixels(const std::string& ppm) {
  std::size_t at = 0;
  for (int fields = 0; fields < 4; ++fields) {
    while (std::isspace(static_cast<unsigned char>(ppm[at]))) ++at;
    while (!std::isspace(static_cast<unsigned char>(ppm[at]))) ++at;
  }
  return ppm.substr(at + 1);
}

TEST(JPEGImageTest, BitmapsAreEncodedAsBaselineQualityNinetyWithTwoByTwoLuminance) {
  TBitmap bitmap;
  PaintBitmap(bitmap, 21, 13, [](int x, int y) { return RGBColor(static_cast<std::uint8_t>(x * 12), 90, static_cast<std::uint8_t>(y * 19)); });
  TJPEGImage jpeg;
  jpeg.CopyFrom(&bitmap);
  EXPECT_EQ(jpeg.Width(), 21);
  const std::string file = Saved(jpeg);
  ASSERT_GT(file.size(), 100u);
  EXPECT_EQ(file.substr(0, 4), "\xff\xd8\xff\xe0");  // JFIF
  std::string frame, tables;
  for (const auto& [marker, body] : Segments(file)) {
    EXPECT_NE(marker, 0xC2);  // not progressive
    if (marker == 0xC0) frame = body;
    if (marker == 0xDB) tables += body;
  }
  ASSERT_EQ(frame.size(), 6u + 3 * 3);
  EXPECT_EQ(frame.substr(0, 6), std::string("\x08\x00\x0d\x00\x15\x03", 6));  // 8 bits, 13 rows, 21 columns, 3 components
  EXPECT_EQ(frame.substr(6), std::string("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9));
  EXPECT_EQ(tables, std::string(1, '\0') + QualityNinetyTable(Luminance) + std::string(1, '\1') +
                        QualityNinetyTable(Chrominance));
}

TEST(JPEGImageTest, ColoursPassUnchangedFromAnyPixelFormat) {
  for (TPixelDepth depth : {pdDevice, pd24Bit, pd8Bit, pd15Bit}) {
    SCOPED_TRACE(static_cast<int>(depth));
    TBitmap bitmap;
    bitmap.SetPixelFormat(depth);
    bitmap.SetSize(16, 16);
    bitmap.Fill(RGBColor(255, 0, 0));
    TJPEGImage jpeg;
    jpeg.CopyFrom(&bitmap);
    TJPEGImage decoded;
    LoadBytes(decoded, Saved(jpeg));
    EXPECT_FALSE(decoded.Grayscale());
    const std::string rgb = RenderedRgb(decoded);
    ASSERT_EQ(rgb.size(), 16u * 16 * 3);
    EXPECT_GT(static_cast<unsigned char>(rgb[0]), 240);
    EXPECT_LT(static_cast<unsigned char>(rgb[1]), 16);
    EXPECT_LT(static_cast<unsigned char>(rgb[2]), 16);
    EXPECT_EQ(bitmap.PixelFormat(), depth);  // the source is converted in a copy only
  }
}

TEST(JPEGImageTest, LoadedFileIsWrittenBackByteForByteAndSavingTwiceEncodesOnce) {
  InitializePictureFormats();
  TPicture picture;
  picture.LoadFile(DataFile("jpeg/photo.JPG"));
  TJPEGImage jpeg;
  jpeg.CopyFrom(picture.Graphic());
  EXPECT_EQ(jpeg.Bitmap(), nullptr);  // nothing was decoded
  EXPECT_EQ(Saved(jpeg), ReadData("jpeg/photo.JPG"));

  TBitmap bitmap;
  PaintBitmap(bitmap, 8, 8, [](int x, int y) { return RGBColor(static_cast<std::uint8_t>(x * 30), static_cast<std::uint8_t>(y * 30), 0); });
  TJPEGImage encoded;
  encoded.CopyFrom(&bitmap);
  const std::string first = Saved(encoded);
  const TMemoryStream* data = encoded.CompressedData();
  EXPECT_EQ(Saved(encoded), first);
  EXPECT_EQ(encoded.CompressedData(), data);
  TJPEGImage shared;
  shared.CopyFrom(&encoded);
  EXPECT_EQ(shared.CompressedData(), data);
}

TEST(JPEGImageTest, EmptyPicturesSaveNothing) {
  TJPEGImage jpeg;
  EXPECT_TRUE(jpeg.Empty());
  EXPECT_EQ(Saved(jpeg), "");
  TBitmap flat;
  flat.SetSize(0, 5);
  jpeg.CopyFrom(&flat);
  EXPECT_EQ(Saved(jpeg), "");
  EXPECT_TRUE(jpeg.Empty());
  LoadBytes(jpeg, "");
  EXPECT_EQ(jpeg.Width(), 0);
  EXPECT_EQ(Saved(jpeg), "");
}

TEST(JPEGImageTest, OnlyJpegPicturesAndBitmapsCanBeCopiedIn) {
  TJPEGImage jpeg;
  TIcon icon;
  TMetafile metafile;
  const std::pair<const TGraphic*, std::string> sources[] = {
      {&icon, "TIcon kann nicht zu  TJPEGImage zugewiesen werden"},
      {&metafile, "TMetafile kann nicht zu  TJPEGImage zugewiesen werden"},
      {nullptr, "nil kann nicht zu  TJPEGImage zugewiesen werden"},
  };
  for (const auto& [source, message] : sources) {
    try {
      jpeg.CopyFrom(source);
      ADD_FAILURE() << "no error for " << message;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), message);
    }
  }
  try {
    jpeg.SetWidth(5);
    FAIL() << "no error";
  } catch (const EInvalidGraphicOperation& error) {
    EXPECT_EQ(error.Message(), "Die Größe einer JPEG-Grafik kann nicht verändert werden");
  }
  EXPECT_THROW(jpeg.SetHeight(5), EInvalidGraphicOperation);
}

TEST(JPEGImageTest, LoadingReadsTheHeaderAndDrawingDecodesLikeLibjpeg) {
  struct TCase {
    const char* File;
    const char* Decoded;
    bool Progressive;
  };
  for (const TCase& fixture : {TCase{"jpeg/photo.JPG", "jpeg/photo.ppm", false},
                               TCase{"jpeg/progressive.jpg", "jpeg/progressive.ppm", true}}) {
    SCOPED_TRACE(fixture.File);
    TJPEGImage jpeg;
    jpeg.LoadFile(DataFile(fixture.File));
    EXPECT_EQ(jpeg.Bitmap(), nullptr);
    EXPECT_FALSE(jpeg.Empty());
    EXPECT_EQ(jpeg.ProgressiveEncoding, fixture.Progressive);
    const std::string expected = PpmPixels(ReadData(fixture.Decoded));
    const std::string actual = RenderedRgb(jpeg);
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);
    EXPECT_EQ(jpeg.Bitmap()->PixelFormat(), pd24Bit);
  }

  TJPEGImage gray;
  gray.LoadFile(DataFile("jpeg/gray.jpg"));
  EXPECT_TRUE(gray.Grayscale());
  gray.DIBNeeded();
  EXPECT_EQ(gray.Bitmap()->PixelFormat(), pd8Bit);  // quantised to at most 236 greys
  EXPECT_LE(gray.Bitmap()->Palette().size(), 236u);
  const TColor top = gray.Bitmap()->Pixel(3, 0), bottom = gray.Bitmap()->Pixel(3, 29);
  EXPECT_EQ(RedOf(top), BlueOf(top));
  EXPECT_GT(RedOf(top), 240);
  EXPECT_LT(RedOf(bottom), 15);
}

TEST(JPEGImageTest, ScaledDecodingGivesLibjpegsScaledPixelsStraightIntoTheTarget) {
  const struct {
    const char* File;
    unsigned Eighths;
    const char* Decoded;
  } cases[] = {
      {"jpeg/photo.JPG", 3, "jpeg/photo-3of8.ppm"},  // 40 x 30 → 15 x 12, rounded up
      {"jpeg/photo.JPG", 1, "jpeg/photo-1of8.ppm"},
      {"jpeg/progressive.jpg", 3, "jpeg/progressive-3of8.ppm"},
      {"jpeg/photo.JPG", 8, "jpeg/photo.ppm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.File << " at " << c.Eighths << "/8");
    TJPEGImage jpeg;
    jpeg.LoadFile(DataFile(c.File));
    TBitmap target;
    PaintBitmap(target, 3, 3, [](int, int) { return clBlack; });
    jpeg.DecodeScaled(target, c.Eighths);
    EXPECT_EQ(jpeg.Bitmap(), nullptr);  // the picture keeps no pixels of its own
    EXPECT_EQ(target.Width(), ScaledJpegSide(jpeg.Width(), c.Eighths));
    EXPECT_EQ(target.Height(), ScaledJpegSide(jpeg.Height(), c.Eighths));
    EXPECT_EQ(target.PixelFormat(), pd24Bit);
    const std::string expected = PpmPixels(ReadData(c.Decoded));
    const std::string actual = testing::RgbBytes(target);
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);
  }
  // A picture beyond the limits at that scale is refused before anything is allocated, as
  // drawing it would be, and the target keeps what it held.
  std::string file = ReadData("jpeg/photo.JPG");
  file.replace(file.find("\xff\xc0") + 5, 4, "\xea\x60\xea\x60");  // 60000 by 60000
  TJPEGImage huge;
  LoadBytes(huge, file);
  TBitmap target;
  PaintBitmap(target, 2, 2, [](int, int) { return clWhite; });
  EXPECT_THROW(huge.DecodeScaled(target, 3), EInvalidGraphic);
  EXPECT_EQ(target.Width(), 2);
}

TEST(JPEGImageTest, PicturesThatShrinkByTwoOrMoreDecodeAtTheSmallestScaleThatStillFits) {
  EXPECT_EQ(ScaledJpegSide(4000, 1), 500);
  EXPECT_EQ(ScaledJpegSide(1024, 3), 384);
  EXPECT_EQ(ScaledJpegSide(303, 4), 152);  // rounded up
  EXPECT_EQ(ScaledJpegSide(1, 1), 1);
  const struct {
    int Width, Height, FittedWidth, FittedHeight;
    unsigned Eighths;
  } cases[] = {
      {4000, 3000, 320, 240, 1},  // 500 x 375
      {1024, 768, 320, 240, 3},   // 384 x 288; at 2/8, 256 x 192 would be too small
      {2560, 1920, 320, 240, 1},  // exactly the fitted size
      {2552, 1914, 320, 240, 2},  // 319 x 240 at 1/8: one pixel short
      {2559, 1919, 320, 240, 1},  // 319.9 rounds up to 320
      {640, 480, 320, 240, 4},    // shrinks by exactly 2: half size
      {639, 479, 320, 240, 8},    // by less than 2: full size
      {480, 640, 240, 320, 4},    // the same upright
      {479, 639, 240, 320, 8},
      {640, 640, 320, 320, 4},
      {640, 303, 320, 152, 4},    // 151.5 rounded to 152; 303 / 2 rounds up to 152 too
      {1000, 1, 320, 0, 3},       // 375 x 1
      {321, 321, 320, 320, 8},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JpegDecodeEighths(c.Width, c.Height, c.FittedWidth, c.FittedHeight), c.Eighths)
        << c.Width << "x" << c.Height << " to " << c.FittedWidth << "x" << c.FittedHeight;
}

TEST(JPEGImageTest, DamagedDataRaisesEJPEGAndHugePicturesAreRefused) {
  TJPEGImage jpeg;
  LoadBytes(jpeg, ReadData("jpeg/photo.JPG"));
  try {
    LoadBytes(jpeg, ReadData("jpeg/notjpeg.jpg"));
    FAIL() << "no error";
  } catch (const EJPEG& error) {
    EXPECT_EQ(error.Message(), "JPEG-Fehler #" + std::to_string(JERR_NO_SOI));
  }
  EXPECT_EQ(jpeg.Width(), 40);  // the failed load changed nothing

  // A file cut short decodes as far as it goes; libjpeg only warns.
  TJPEGImage truncated;
  truncated.LoadFile(DataFile("jpeg/truncated.jpg"));
  EXPECT_NO_THROW(truncated.DIBNeeded());
  const std::string headerOnly = ReadData("jpeg/photo.JPG").substr(0, 20);
  EXPECT_THROW(LoadBytes(truncated, headerOnly), EJPEG);

  // A header claiming 60000 by 60000 pixels loads; decoding it is refused before allocating.
  std::string file = ReadData("jpeg/photo.JPG");
  const std::size_t frame = file.find("\xff\xc0");
  ASSERT_NE(frame, std::string::npos);
  file.replace(frame + 5, 4, "\xea\x60\xea\x60");
  TJPEGImage huge;
  LoadBytes(huge, file);
  EXPECT_EQ(huge.Width(), 60000);
  TBitmap canvas;
  canvas.SetSize(1, 1);
  try {
    canvas.DrawGraphic(0, 0, huge);
    FAIL() << "no error";
  } catch (const EInvalidGraphic& error) {
    EXPECT_EQ(error.Message(), "Cannot load image. Invalid or unexpected TJPEGImage image format.");
  }
}

TEST(JPEGImageTest, EncodingReportsItsStartAndEnd) {
  TBitmap bitmap;
  PaintBitmap(bitmap, 4, 4, [](int, int) { return clWhite; });
  TJPEGImage jpeg;
  std::vector<std::pair<TProgressStage, int>> reports;
  jpeg.OnProgress = [&](TGraphic&, TProgressStage stage, std::uint8_t percent, bool, const TRect&, const std::string&) {
    reports.emplace_back(stage, percent);
  };
  jpeg.CopyFrom(&bitmap);
  Saved(jpeg);
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.front(), std::make_pair(psStarting, 0));
  EXPECT_EQ(reports.back(), std::make_pair(psEnding, 100));
  EXPECT_EQ(JPEGDefaults.CompressionQuality, 90);
}

}  // namespace
}  // namespace driftpost
