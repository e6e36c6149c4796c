#include "picture/FormatRegistry.h"

#include <gtest/gtest.h>

#include "picture/Bitmap.h"
#include "picture/GraphicExGraphic.h"
#include "picture/Icon.h"
#include "picture/JPEGImage.h"
#include "picture/Metafile.h"
#include "picture/Picture.h"
#include "picture/ReaderClasses.h"
#include "picture/RegisteredFormats.h"
#include "platform/StringList.h"

namespace driftpost {
namespace {

// Two picture classes of the test's own, the second derived from the first.
class TFirstTestGraphic : public TBitmap {
 public:
  static TGraphicClass StaticClass() {
    static const TGraphicClassInfo info{"TFirstTestGraphic", TBitmap::StaticClass(), &CreateGraphicOf<TFirstTestGraphic>};
    return &info;
  }
  TGraphicClass ClassType() const override { return StaticClass(); }
};

class TSecondTestGraphic : public TFirstTestGraphic {
 public:
  static TGraphicClass StaticClass() {
    static const TGraphicClassInfo info{"TSecondTestGraphic", TFirstTestGraphic::StaticClass(),
                                        &CreateGraphicOf<TSecondTestGraphic>};
    return &info;
  }
  TGraphicClass ClassType() const override { return StaticClass(); }
};

class FormatRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializePictureFormats(); }
  void TearDown() override {
    TPicture::UnregisterClass(TFirstTestGraphic::StaticClass());
    InitializePictureFormats();
  }
};

const TFileFormatList::TClassEntry& ClassEntryOf(const TFileFormatList& list, TGraphicClass graphicClass) {
  return *list.Classes().at(static_cast<std::size_t>(list.IndexOfClass(graphicClass)));
}

TEST_F(FormatRegistryTest, StartUpRegistersTheFormatsInOrderWithTheirDescriptions) {
  TStringList extensions;
  extensions.Add("left over");
  FormatRegistry().ListExtensions(extensions);
  ASSERT_EQ(extensions.Count(), 39);
  EXPECT_EQ(extensions.Items(), RegisteredExtensions());
  EXPECT_EQ(extensions.Text().substr(0, 5), "bmp\r\n");
  EXPECT_EQ(extensions.Text().substr(extensions.Text().size() - 5), "png\r\n");

  const TFileFormatList& registry = FormatRegistry();
  EXPECT_EQ(registry.Classes().size(), 17u);
  EXPECT_EQ(ClassEntryOf(registry, ReaderClassByName("TTargaGraphic")).Count, 5);
  EXPECT_EQ(ClassEntryOf(registry, TBitmap::StaticClass()).Count, 3);
  EXPECT_EQ(ClassEntryOf(registry, TBitmap::StaticClass()).Description, "Windows bitmaps");
  EXPECT_EQ(ClassEntryOf(registry, TJPEGImage::StaticClass()).Description, "JPG images");

  // The picture container's list: its four records, the JPEG class's two, then the 39.
  const std::vector<TFileFormat>& formats = FileFormats().Formats();
  ASSERT_EQ(formats.size(), 45u);
  EXPECT_EQ(formats[0].Extension, "wmf");
  EXPECT_EQ(formats[0].Description, "Metadateien");
  EXPECT_EQ(formats[3].Extension, "bmp");
  EXPECT_EQ(formats[4].Extension, "jpeg");
  EXPECT_EQ(formats[5].Description, "JPEG-Grafikdatei");
  auto description = [&](std::size_t registration) { return formats[6 + registration - 1].Description; };
  EXPECT_EQ(description(1), "Windows bitmaps");
  EXPECT_EQ(description(4), "Windows enhanced meta files");
  EXPECT_EQ(description(9), "Run length encoded Windows bitmaps");
  EXPECT_EQ(description(12), "Truevision images");
  EXPECT_EQ(description(21), "ZSoft Paintbrush images");
  EXPECT_EQ(description(26), "SGI true color images with alpha");
  EXPECT_EQ(description(35), "Autodesk images");
  EXPECT_EQ(formats.back().Extension, "png");
  EXPECT_EQ(formats.back().Description, "Portable network graphic images");
}

TEST_F(FormatRegistryTest, ExtensionsMapToTheirClasses) {
  const TFileFormatsList& formats = FileFormats();
  for (const char* extension : {"tga", "vst", "icb", "WIN"})
    EXPECT_STREQ(formats.FindByExtension(extension)->Name, "TTargaGraphic") << extension;
  EXPECT_STREQ(formats.FindByExtension("pdd")->Name, "TPSDGraphic");
  EXPECT_EQ(formats.FindByExtension("rle"), TBitmap::StaticClass());
  EXPECT_EQ(formats.FindByExtension("dib"), TBitmap::StaticClass());
  EXPECT_EQ(formats.FindByExtension("JPG"), TJPEGImage::StaticClass());
  EXPECT_EQ(formats.FindByExtension("emf"), TMetafile::StaticClass());
  EXPECT_EQ(formats.FindByExtension("gif"), nullptr);
  EXPECT_EQ(formats.FindByExtension(""), nullptr);
  EXPECT_EQ(formats.FindByClassName("TIcon"), TIcon::StaticClass());
  EXPECT_TRUE(ReaderClassByName("TPNGGraphic")->InheritsFrom(TGraphicExGraphic::StaticClass()));
  EXPECT_TRUE(IsStandInReaderClass(ReaderClassByName("TPNGGraphic")));
  EXPECT_EQ(ReaderClassByName("TGIFGraphic"), nullptr);

  const TFileFormatList& registry = FormatRegistry();
  EXPECT_EQ(registry.IndexOfExtension("BMP"), 0);
  EXPECT_EQ(registry.IndexOfExtension("png"), 38);
  EXPECT_EQ(registry.IndexOfExtension(""), -1);
  EXPECT_EQ(registry.IndexOfExtension("gif"), -1);
  EXPECT_EQ(registry.IndexOfClass(TFirstTestGraphic::StaticClass()), -1);
}

TEST_F(FormatRegistryTest, RegisteringCountsExtensionsPerClassAndForwardsToThePicture) {
  TFileFormatList registry;
  const TGraphicClass first = TFirstTestGraphic::StaticClass(), second = TSecondTestGraphic::StaticClass();
  registry.RegisterExtension("", "ignored", "", false, first);
  EXPECT_TRUE(registry.Extensions().empty());
  registry.RegisterExtension("aaa", "First pictures", "", false, first);
  registry.RegisterExtension("aab", "", "Special first pictures", false, first);
  EXPECT_EQ(ClassEntryOf(registry, first).Count, 2);
  EXPECT_EQ(FileFormats().FindByExtension("aab"), first);
  EXPECT_EQ(FileFormats().Formats().back().Description, "Special first pictures");
  EXPECT_EQ(FileFormats().Formats()[FileFormats().Formats().size() - 2].Description, "First pictures");

  try {
    registry.RegisterExtension("AAA", "", "", false, second);
    FAIL() << "no error";
  } catch (const EInvalidGraphic& error) {
    EXPECT_EQ(error.Message(), "Attempt to register AAA twice.");
  }

  // Replacing moves the extension to the new class; the old one keeps its other extension.
  registry.RegisterExtension("aaa", "Second pictures", "", true, second);
  EXPECT_EQ(ClassEntryOf(registry, first).Count, 1);
  EXPECT_EQ(ClassEntryOf(registry, second).Count, 1);
  EXPECT_EQ(FileFormats().FindByExtension("aaa"), second);  // the later record wins
  registry.RegisterExtension("aab", "", "", true, second);
  EXPECT_EQ(registry.IndexOfClass(first), -1);  // its last extension left
  EXPECT_EQ(ClassEntryOf(registry, second).Count, 2);
  registry.RegisterExtension("aab", "", "", true, second);  // the same class: nothing changes
  EXPECT_EQ(ClassEntryOf(registry, second).Count, 2);

  registry.UnregisterExtension("zzz", second);  // not registered: nothing
  registry.UnregisterExtension("aaa", second);
  EXPECT_EQ(ClassEntryOf(registry, second).Count, 1);
  EXPECT_NE(FileFormats().FindByExtension("aaa"), nullptr);  // the class still has an extension
  registry.UnregisterExtension("aab", second);
  EXPECT_EQ(registry.IndexOfClass(second), -1);
  EXPECT_EQ(FileFormats().FindByExtension("aaa"), first);  // only the first class's records remain

  // Unregistering a class by an empty extension takes all its extensions, and TPicture's
  // records of it and of the classes derived from it.
  registry.RegisterExtension("ccc", "C", "", false, first);
  registry.RegisterExtension("ddd", "", "", false, second);
  registry.RegisterExtension("eee", "", "", false, first);
  registry.UnregisterExtension("", first);
  ASSERT_EQ(registry.Extensions().size(), 1u);
  EXPECT_EQ(registry.Extensions()[0].Extension, "ddd");
  EXPECT_EQ(FileFormats().FindByExtension("ddd"), nullptr);
  EXPECT_EQ(FileFormats().FindByExtension("aaa"), nullptr);

  registry.RemoveAll();
  EXPECT_TRUE(registry.Extensions().empty());
  EXPECT_TRUE(registry.Classes().empty());
}

TEST_F(FormatRegistryTest, ShutDownEmptiesTheListsAndStartUpRefillsThem) {
  FinalizePictureFormats();
  EXPECT_FALSE(PictureFormatsInitialized());
  EXPECT_EQ(FileFormats().Formats().size(), 4u);  // a fresh list knows its four defaults only
  InitializePictureFormats();
  EXPECT_EQ(FileFormats().Formats().size(), 45u);
  InitializePictureFormats();  // twice is once
  EXPECT_EQ(FileFormats().Formats().size(), 45u);

  // The registry's shut-down alone leaves nothing in the picture container's list: the
  // classes unregistered last (TBitmap among them) take their derived classes with them.
  TFileFormatList& registry = FormatRegistry();
  registry.RemoveAll();
  EXPECT_TRUE(FileFormats().Formats().empty());
  FinalizePictureFormats();
}

TEST_F(FormatRegistryTest, InstalledReaderReplacesTheStandInEverywhere) {
  const TGraphicClass standIn = ReaderClassByName("TCUTGraphic");
  static const TGraphicClassInfo reader{"TCUTGraphic", TGraphicExGraphic::StaticClass(),
                                        &CreateGraphicOf<TFirstTestGraphic>};
  InstallReaderClass(&reader);
  EXPECT_EQ(ReaderClassByName("TCUTGraphic"), &reader);
  EXPECT_EQ(FileFormats().FindByExtension("cut"), &reader);
  EXPECT_EQ(FormatRegistry().IndexOfClass(standIn), -1);
  InstallReaderClass(standIn);
  EXPECT_EQ(FileFormats().FindByExtension("cut"), standIn);
}

}  // namespace
}  // namespace driftpost
