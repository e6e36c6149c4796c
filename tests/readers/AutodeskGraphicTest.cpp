#include "readers/AutodeskGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::TPatchedBytes;

TEST(AutodeskGraphicTest, CelDecodesToItsPaletteColours) {
  testing::ExpectFixturesDecode<TAutodeskGraphic>("autodesk", {{"colors.cel", pd8Bit}});
}

TEST(AutodeskGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  const std::string invalid = "Cannot load image. Invalid or unexpected Autodesk image format.";
  const std::string file = ReadData("autodesk/colors.cel");
  TAutodeskGraphic cel;
  EXPECT_EQ(LoadBytes(cel, TPatchedBytes(file).LE16(0, 0x9118)), invalid);
  EXPECT_EQ(LoadBytes(cel, TPatchedBytes(file).LE16(10, 16)), invalid);
  EXPECT_EQ(LoadBytes(cel, TPatchedBytes(file).LE16(2, 0)), invalid);
  EXPECT_EQ(LoadBytes(cel, TPatchedBytes(file).LE16(2, 65535).LE16(4, 65535)), invalid);
  EXPECT_EQ(LoadBytes(cel, TPatchedBytes(file).Cut(file.size() - 1)), "Stream-Lesefehler");
  testing::LoadEveryPrefix<TAutodeskGraphic>(file);
}

}  // namespace
}  // namespace driftpost
