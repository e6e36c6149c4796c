#include "readers/RLAGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "picture/ColorManager.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::RgbBytes;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected RLA image format.";

TEST(RLAGraphicTest, RowsStoredBottomFirstOrTopFirstShowUpright) {
  testing::ExpectFixturesDecode<TRLAGraphic>(
      "rla", {{"rgb.rla", pd24Bit}, {"rgb-matte.rla", pd32Bit}, {"rgb-topfirst.rpf", pd24Bit}});
  TRLAGraphic matte;
  matte.LoadFile(testing::DataFile("rla/rgb-matte.rla"));
  EXPECT_EQ(matte.ScanLine(3)[4 * 12 + 3], 255);  // the matte channel is the alpha byte
  EXPECT_TRUE(matte.ImageProperties().BottomUp);
}

TEST(RLAGraphicTest, PicturesEncodedForGammaTwoPointTwoShowAsStoredAndOthersAreCorrected) {
  // "2.2" is the gamma the display shows with: the samples stay as they are.
  testing::ExpectFixturesDecode<TRLAGraphic>("rla", {{"rgb-gamma22.rla", pd24Bit}});
  TRLAGraphic plain, corrected;
  const std::string file = ReadData("rla/rgb.rla");
  ASSERT_EQ(LoadBytes(plain, file), "loaded");
  ASSERT_EQ(LoadBytes(corrected, ReadData("rla/rgb-gamma22.rla")), "loaded");
  EXPECT_FLOAT_EQ(corrected.ImageProperties().FileGamma, 2.2f);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(corrected.ColorManager().GammaTable()[i], i);

  // Samples encoded for a gamma of 1.8 are brightened for the display's 2.2.
  ASSERT_EQ(LoadBytes(corrected, TPatchedBytes(file).Byte(28, '1').Byte(30, '8')), "loaded");  // "1.8"
  EXPECT_TRUE(corrected.ImageProperties().Options & opGammaApplied);
  const std::uint8_t level = plain.ScanLine(0)[1];
  EXPECT_EQ(corrected.ScanLine(0)[1], corrected.ColorManager().GammaTable()[level]);
  EXPECT_GT(corrected.ColorManager().GammaTable()[128], 128);
  // Text that is no number, and a gamma of 0, state no gamma.
  for (const char first : {'x', '0'}) {
    ASSERT_EQ(LoadBytes(corrected, TPatchedBytes(file).Byte(28, static_cast<std::uint8_t>(first))), "loaded");
    EXPECT_EQ(RgbBytes(corrected), RgbBytes(plain));
  }
}

TEST(RLAGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  const std::string file = ReadData("rla/rgb.rla");
  TRLAGraphic rla;
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).Byte(580, 'c')), kInvalid);       // channel kind "cgb"
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).BE16(20, 1)), kInvalid);          // one colour channel
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).BE16(658, 16)), kInvalid);        // 16 bits per channel
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).BE16(10, 0xFFF0)), kInvalid);     // right < left
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).BE16(10, 32767).BE16(14, 32767).BE16(12, 0x8000)), kInvalid);
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).BE32(740, 0x10000000)), kInvalid);  // row offset past the end
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).Cut(file.size() - 1)), "Stream-Lesefehler");
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).Cut(750)), "Stream-Lesefehler");  // offset table cut short
  // "xyz" colours have no converter.
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).Byte(580, 'x').Byte(581, 'y').Byte(582, 'z')),
            "Color conversion failed. Could not find a proper method.");
  // A packet whose run or copy passes the row's width is cut there.
  EXPECT_EQ(LoadBytes(rla, TPatchedBytes(file).Byte(740 + 4 * 7 + 2, 0x7F)), "loaded");

  testing::LoadEveryPrefix<TRLAGraphic>(ReadData("rla/rgb-matte.rla"));
}

}  // namespace
}  // namespace driftpost
