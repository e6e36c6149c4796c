#include "readers/PPMGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::RgbBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.";
const std::string kReadError = "Stream read error in PPM file.";

TEST(PPMGraphicTest, FilesOfImageMagickAndNetpbmDecodeLikeTheToolsDecodeThem) {
  testing::ExpectFixturesDecode<TPPMGraphic>("pnm", {{"pbm-plain.pbm", pd1Bit},
                                                     {"pbm-plain-netpbm.pbm", pd1Bit},  // digits without blanks
                                                     {"pbm-raw.pbm", pd1Bit},
                                                     {"pgm-plain.pgm", pd8Bit},
                                                     {"pgm-raw.pgm", pd8Bit},
                                                     {"pgm-raw16.pgm", pd8Bit},
                                                     {"ppm-plain.ppm", pd24Bit},
                                                     {"ppm-raw.ppm", pd24Bit},
                                                     {"ppm-raw16.ppm", pd24Bit},
                                                     {"ppm-comment.ppm", pd24Bit}});
}

TEST(PPMGraphicTest, MapsOfEveryMaximumWrittenByNetpbmDecodeLikeNetpbmScalesThem) {
  testing::ExpectFixturesDecode<TPPMGraphic>(
      "pnm", {{"pgm-max1-raw.pgm", pd8Bit},       {"pgm-max1-plain.pgm", pd8Bit},
              {"pgm-max15-raw.pgm", pd8Bit},      {"pgm-max15-plain.pgm", pd8Bit},
              {"pgm-max300-raw.pgm", pd8Bit},     {"pgm-max300-plain.pgm", pd8Bit},
              {"pgm-max1023-raw.pgm", pd8Bit},    {"pgm-max1023-plain.pgm", pd8Bit},
              {"pgm-max65535-raw.pgm", pd8Bit},   {"pgm-max65535-plain.pgm", pd8Bit},
              {"ppm-max1-raw.ppm", pd24Bit},      {"ppm-max1-plain.ppm", pd24Bit},
              {"ppm-max15-raw.ppm", pd24Bit},     {"ppm-max15-plain.ppm", pd24Bit},
              {"ppm-max300-raw.ppm", pd24Bit},    {"ppm-max300-plain.ppm", pd24Bit},
              {"ppm-max1023-raw.ppm", pd24Bit},   {"ppm-max1023-plain.ppm", pd24Bit},
              {"ppm-max65535-raw.ppm", pd24Bit},  {"ppm-max65535-plain.ppm", pd24Bit}});
}

TEST(PPMGraphicTest, HeadersMayCarryCommentsAndStandOnOneLineAndSamplesScaleToTheirMaximum) {
  TPPMGraphic ppm;
  ASSERT_EQ(LoadBytes(ppm, "P6\n2 # two wide\n# and\n1\n255\n\x01\x02\x03\x04\x05\x06"), "loaded");
  EXPECT_EQ(RgbBytes(ppm), "\x01\x02\x03\x04\x05\x06");
  ASSERT_EQ(LoadBytes(ppm, "P5 2 1 255\n\x10\x20"), "loaded");
  EXPECT_EQ(ppm.Pixel(1, 0), RGBColor(0x20, 0x20, 0x20));
  // No byte needs to follow the last number. 300 × 255 / 1000 = 76.5 rounds up; a sample
  // beyond the maximum is the maximum.
  ASSERT_EQ(LoadBytes(ppm, "P3\n1 1\n1000\n300 256 65535"), "loaded");
  EXPECT_EQ(ppm.Pixel(0, 0), RGBColor(77, 65, 255));
  // Two-byte binary samples are most significant first; 0x0200 of 0x03FF is 127.6.
  ASSERT_EQ(LoadBytes(ppm, std::string("P5 2 1 1023\n\x02\x00\x04\x00", 16)), "loaded");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ppm.ScanLine(0)), 2), "\x80\xFF");
  // A maximum of 255 keeps every sample's low byte, as such maps always have: nothing that
  // showed right before shows differently now.
  ASSERT_EQ(LoadBytes(ppm, "P2 3 1 255 7 255 300"), "loaded");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ppm.ScanLine(0)), 3), "\x07\xFF\x2C");
}

TEST(PPMGraphicTest, DataPastTheFirstBufferfulAndItsEnd) {
  // 5000 samples run over the 4096-byte buffer; one byte fewer must not be served from
  // what the buffer held before.
  std::string file = "P5\n100 50\n255\n";
  for (int i = 0; i < 5000; ++i) file += static_cast<char>(i % 251);
  TPPMGraphic ppm;
  ASSERT_EQ(LoadBytes(ppm, file), "loaded");
  EXPECT_EQ(ppm.ScanLine(49)[99], 4999 % 251);
  EXPECT_EQ(LoadBytes(ppm, file.substr(0, file.size() - 1)), kReadError);
}

TEST(PPMGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  TPPMGraphic ppm;
  EXPECT_EQ(LoadBytes(ppm, "P7\n1 1\n255\n\0\0\0"), kInvalid);
  EXPECT_EQ(LoadBytes(ppm, "Q6\n1 1\n255\n\0\0\0"), kInvalid);
  EXPECT_EQ(LoadBytes(ppm, "P6\n0 1\n255\n"), kInvalid);
  EXPECT_EQ(LoadBytes(ppm, "P6\n65535 65535\n255\n"), kInvalid);
  EXPECT_EQ(LoadBytes(ppm, "P6\n99999999999999999999999 1\n255\n"), kInvalid);
  EXPECT_EQ(LoadBytes(ppm, "P5\n1 1\n70000\n\0\0"), kInvalid);
  EXPECT_EQ(LoadBytes(ppm, "P2\n1 1\n0\n0\n"), kInvalid);  // nothing to scale by
  EXPECT_EQ(LoadBytes(ppm, ""), kReadError);
  EXPECT_EQ(LoadBytes(ppm, "P6\n2 2\n255\n\x01\x02\x03"), kReadError);
  EXPECT_EQ(LoadBytes(ppm, "P1\n3 1\n0 1"), kReadError);
  EXPECT_EQ(LoadBytes(ppm, "P2\n2 1\n255\n7 # comment to the end"), kReadError);

  for (const char* file : {"pnm/pbm-plain-netpbm.pbm", "pnm/pbm-raw.pbm", "pnm/ppm-plain.ppm", "pnm/ppm-raw16.ppm"})
    testing::LoadEveryPrefix<TPPMGraphic>(ReadData(file));
}

}  // namespace
}  // namespace driftpost
