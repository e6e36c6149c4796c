#include "readers/CUTGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::LoadBytes;
using testing::ReadData;
using testing::TempDir;

const std::string kInvalid = "Cannot load image. Invalid or unexpected CUT image format.";

TEST(CUTGraphicTest, PicturesDecodeLikeImageMagickDecodesThemWithAndWithoutPaletteFile) {
  // colors.pal lies beside colors.cut and spans two of its blocks; gray.cut has none and
  // shows its indices as grey levels.
  testing::ExpectFixturesDecode<TCUTGraphic>("cut", {{"colors.cut", pd8Bit}, {"gray.cut", pd8Bit}});
}

TEST(CUTGraphicTest, EmptyRunsDoNotEndARowAndUpperCasePaletteNamesAreFound) {
  // HALO80.CUT has an empty run (0x80 and a value byte) before every packet and its palette
  // in HALO80.PAL.
  testing::ExpectFixturesDecode<TCUTGraphic>("cut", {{"HALO80.CUT", pd8Bit}});
}

TEST(CUTGraphicTest, ThePaletteFileNamedPalComesFirstThenTheSameNameInAnyCase) {
  // One-colour palette files, told apart by their colour.
  auto palette = [](std::uint8_t red) {
    std::string file(512, '\0');
    file[40] = static_cast<char>(red);
    return file;
  };
  auto redOfPaletteFound = [](const std::string& picture) {
    TCUTGraphic cut;
    cut.LoadFile(picture);
    return cut.Palette().size() == 1 ? cut.Palette()[0].Red : -1;
  };
  TempDir folder;
  const std::string picture = folder.File("pic.CUT");
  testing::WriteFile(picture, std::string("\x01\x00\x01\x00\x00\x00\x03\x00\x81\x00\x00", 11));
  testing::WriteFile(folder.File("PIC.PAL"), palette(1));  // another name
  EXPECT_EQ(redOfPaletteFound(picture), -1);
  testing::WriteFile(folder.File("pic.Pal"), palette(2));
  EXPECT_EQ(redOfPaletteFound(picture), 2);
  testing::WriteFile(folder.File("pic.PAL"), palette(3));  // before "pic.Pal" in name order
  EXPECT_EQ(redOfPaletteFound(picture), 3);
  testing::WriteFile(folder.File("pic.pal"), palette(4));
  EXPECT_EQ(redOfPaletteFound(picture), 4);
}

TEST(CUTGraphicTest, OnlyALoadThroughThePathFindsThePaletteFile) {
  TCUTGraphic fromFile, fromStream;
  fromFile.LoadFile(DataFile("cut/colors.cut"));
  EXPECT_TRUE(fromFile.PaletteFile().empty());  // forgotten after the load
  ASSERT_EQ(LoadBytes(fromStream, ReadData("cut/colors.cut")), "loaded");
  ASSERT_EQ(fromStream.Palette().size(), 256u);
  EXPECT_EQ(fromStream.Palette()[151], (TRGBQuad{151, 151, 151, 0}));
  EXPECT_NE(fromFile.Palette()[151], fromStream.Palette()[151]);
}

TEST(CUTGraphicTest, RowsOverrunningTheirWidthAreCutAndTheNextRowStillFound) {
  // 2 by 2: a run of 127 in the first row, then a row of two literal bytes.
  const std::string file = std::string("\x02\x00\x02\x00\x00\x00", 6) + std::string("\x03\x00\xFF\x07\x00", 5) +
                           std::string("\x04\x00\x02\x08\x09\x00", 6);
  TCUTGraphic cut;
  ASSERT_EQ(LoadBytes(cut, file), "loaded");
  EXPECT_EQ(cut.ScanLine(0)[1], 7);
  EXPECT_EQ(cut.ScanLine(1)[0], 8);
  EXPECT_EQ(cut.ScanLine(1)[1], 9);
}

TEST(CUTGraphicTest, MalformedFilesAreRefusedWithOurErrors) {
  TCUTGraphic cut;
  EXPECT_EQ(LoadBytes(cut, std::string("\x00\x00\x02\x00\x00\x00", 6)), kInvalid);
  EXPECT_EQ(LoadBytes(cut, std::string("\xFF\xFF\xFF\xFF\x00\x00", 6)), kInvalid);
  EXPECT_EQ(LoadBytes(cut, "\x02"), "Stream-Lesefehler");
  // Rows missing at the end of the data stay as they were.
  EXPECT_EQ(LoadBytes(cut, std::string("\x02\x00\x02\x00\x00\x00", 6)), "loaded");

  TempDir folder;
  testing::WriteFile(folder.File("short.cut"), ReadData("cut/colors.cut"));
  testing::WriteFile(folder.File("short.pal"), ReadData("cut/colors.pal").substr(0, 600));
  try {
    cut.LoadFile(folder.File("short.cut"));
    ADD_FAILURE() << "loaded with a palette file cut short";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Cannot load image. Palette in CUT file is invalid.");
  }
  testing::LoadEveryPrefix<TCUTGraphic>(ReadData("cut/colors.cut"));
}

}  // namespace
}  // namespace driftpost
