#include "picture/Picture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "PictureTestSupport.h"
#include "picture/Bitmap.h"
#include "picture/FormatRegistry.h"
#include "picture/Icon.h"
#include "picture/JPEGImage.h"
#include "picture/Metafile.h"
#include "picture/ReaderClasses.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::ReadData;
using testing::TempDir;
using testing::WriteFile;

std::string LoadError(TPicture& picture, const std::string& path) {
  try {
    picture.LoadFile(path);
    return "loaded";
  } catch (const Exception& error) {
    return error.Message();
  }
}

class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializePictureFormats(); }
  TempDir folder_;
};

TEST_F(PictureTest, LoadsByTheExtensionInAnyLetterCase) {
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TPicture&) { ++changes; };
  picture.LoadFile(DataFile("jpeg/photo.JPG"));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TJPEGImage");
  EXPECT_EQ(picture.Width(), 40);
  EXPECT_EQ(picture.Height(), 30);
  EXPECT_GE(changes, 1);

  const std::string dib = folder_.File("copy.DIB");
  WriteFile(dib, ReadData("bmp/bits8.bmp"));
  picture.LoadFile(dib);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(picture.Width(), 13);
}

TEST_F(PictureTest, UnknownExtensionsFailWithTheExtensionAsThePathSpellsIt) {
  TPicture picture;
  picture.LoadFile(DataFile("bmp/bits24.bmp"));
  TGraphic* before = picture.Graphic();

  const std::string gif = folder_.File("anim.gif");
  WriteFile(gif, "GIF89a");
  EXPECT_EQ(LoadError(picture, gif), "Unbekannte Bilddateierweiterung (.gif)");
  EXPECT_EQ(LoadError(picture, folder_.File("NOTES.XYZ")), "Unbekannte Bilddateierweiterung (.XYZ)");
  std::filesystem::create_directory(folder_.File("pics.old"));
  WriteFile(folder_.File("pics.old/scan"), "");
  EXPECT_EQ(LoadError(picture, folder_.File("pics.old/scan")), "Unbekannte Bilddateierweiterung (.)");
  EXPECT_EQ(LoadError(picture, "C:\\pics.old\\scan"), "Unbekannte Bilddateierweiterung (.)");

  // Errors of opening and of the reader leave the picture as it was too.
  const std::string missing = folder_.File("missing.bmp");
  EXPECT_EQ(LoadError(picture, missing), "Datei " + missing + " kann nicht geöffnet werden");
  const std::string targa = folder_.File("photo.tga");
  WriteFile(targa, std::string(40, '\0'));
  EXPECT_EQ(LoadError(picture, targa), "Cannot load image. Invalid or unexpected Targa image format.");
  const std::string broken = folder_.File("broken.bmp");
  WriteFile(broken, "BM and nothing else");
  EXPECT_EQ(LoadError(picture, broken), "Cannot load image. Invalid or unexpected TBitmap image format.");
  EXPECT_EQ(picture.Graphic(), before);
  EXPECT_EQ(picture.Width(), 13);
}

TEST_F(PictureTest, BitmapAccessorReplacesIconsAndMetafilesButKeepsReadersPictures) {
  TPicture picture;
  EXPECT_EQ(picture.Width(), 0);
  picture.LoadFile(DataFile("ico/multi.ico"));
  EXPECT_EQ(picture.Width(), 16);  // the first of its images
  TBitmap& bitmap = picture.Bitmap();
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(&picture.Bitmap(), &bitmap);

  TMetafile metafile;
  picture.CopyFrom(&metafile);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TMetafile");
  EXPECT_TRUE(picture.Bitmap().Empty());

  // A reader's picture is a bitmap already.
  std::unique_ptr<TGraphic> reader = ReaderClassByName("TPNGGraphic")->NewInstance();
  static_cast<TBitmap&>(*reader).SetSize(3, 2);
  picture.CopyFrom(reader.get());
  TGraphic* copied = picture.Graphic();
  EXPECT_STREQ(copied->ClassName(), "TPNGGraphic");
  EXPECT_EQ(&picture.Bitmap(), copied);
  EXPECT_EQ(picture.Bitmap().Width(), 3);

  TPicture other;
  other.CopyFrom(&picture);
  EXPECT_STREQ(other.Graphic()->ClassName(), "TPNGGraphic");
  other.CopyFrom(static_cast<const TGraphic*>(nullptr));
  EXPECT_EQ(other.Graphic(), nullptr);
}

TEST_F(PictureTest, FormatListLooksUpBackwardsAndRemovesDerivedClasses) {
  TFileFormatsList list;
  ASSERT_EQ(list.Formats().size(), 4u);
  EXPECT_EQ(list.Formats()[1].Description, "Erweiterte Metadateien");
  EXPECT_EQ(list.Formats()[2].Description, "Symbole");
  list.AddFormat("ICO", "Later icons", TBitmap::StaticClass(), 0);
  EXPECT_EQ(list.Formats().back().Extension, "ico");
  EXPECT_EQ(list.FindByExtension("Ico"), TBitmap::StaticClass());
  EXPECT_EQ(list.FindByClassName("TIcon"), TIcon::StaticClass());
  list.AddFormat("png", "", ReaderClassByName("TPNGGraphic"), 0);
  list.RemoveClass(TBitmap::StaticClass());  // the reader derives from TBitmap
  EXPECT_EQ(list.Formats().size(), 3u);
  EXPECT_EQ(list.FindByExtension("ico"), TIcon::StaticClass());
  EXPECT_EQ(list.FindByExtension("png"), nullptr);
}

}  // namespace
}  // namespace driftpost
