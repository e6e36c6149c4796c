#include "readers/SGIGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::TPatchedBytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format.";

TEST(SGIGraphicTest, FilesOfImageMagickAndNetpbmDecodeLikeTheToolsDecodeThem) {
  // Grey files are stored bottom row first and show upright; 16-bit samples hold 8-bit
  // levels times 257, so both sides narrow them exactly.
  testing::ExpectFixturesDecode<TSGIGraphic>("sgi", {{"rgb24-rle.sgi", pd24Bit},
                                                     {"rgb24.sgi", pd24Bit},
                                                     {"rgba32-rle.sgi", pd32Bit},
                                                     {"rgb48.sgi", pd24Bit},
                                                     {"netpbm-rgb48-rle.sgi", pd24Bit},
                                                     {"gray-rle.bw", pd8Bit},
                                                     {"gray.bw", pd8Bit},
                                                     {"gray16.bw", pd8Bit},
                                                     {"gray-alpha.sgi", pd8Bit}});
}

TEST(SGIGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  const std::string packed = ReadData("sgi/rgb24-rle.sgi");
  const std::string plain = ReadData("sgi/rgb24.sgi");
  TSGIGraphic sgi;
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE16(0, 475)), kInvalid);          // magic
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).Byte(3, 3)), kInvalid);            // 3 bytes per sample
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE16(4, 4)), kInvalid);            // dimension
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE16(10, 5)), kInvalid);           // 5 channels
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE16(6, 0)), kInvalid);            // no pixels
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(plain).BE16(6, 65535).BE16(8, 65535).BE16(10, 4)), kInvalid);
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE32(512, 0x7FFFFFFF)), kInvalid);  // row offset past the end
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE16(8, 65535)), "Stream-Lesefehler");  // row tables cut short
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(plain).Cut(plain.size() - 1)), "Stream-Lesefehler");
  // A packed row claiming more than the row holds, or more than the file, is cut there.
  EXPECT_EQ(LoadBytes(sgi, TPatchedBytes(packed).BE32(512 + 2 * 7 * 3 * 4 - 4, 0xFFFFFFFF)), "loaded");

  for (const char* file : {"sgi/rgb24-rle.sgi", "sgi/netpbm-rgb48-rle.sgi", "sgi/gray16.bw"})
    testing::LoadEveryPrefix<TSGIGraphic>(ReadData(file));
}

}  // namespace
}  // namespace driftpost
