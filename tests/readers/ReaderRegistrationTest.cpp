#include "readers/ReaderRegistration.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "picture/FormatRegistry.h"
#include "picture/Picture.h"
#include "picture/ReaderClasses.h"
#include "readers/AutodeskGraphic.h"
#include "readers/CUTGraphic.h"
#include "readers/PCDGraphic.h"
#include "readers/PCXGraphic.h"
#include "readers/PNGGraphic.h"
#include "readers/PPMGraphic.h"
#include "readers/PSDGraphic.h"
#include "readers/PSPGraphic.h"
#include "readers/RLAGraphic.h"
#include "readers/SGIGraphic.h"
#include "readers/TargaGraphic.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::ReadData;

struct TShared {
  const char* Fixture;
  const char* Extension;
  TGraphicClass Reader;
};

TEST(ReaderRegistrationTest, EveryExtensionOfTheseFormatsLoadsThroughItsReader) {
  InstallReaders();
  InitializePictureFormats();
  const TShared shared[] = {
      {"tga/bits24.tga", "tga", TTargaGraphic::StaticClass()},   {"tga/bits24.tga", "VST", TTargaGraphic::StaticClass()},
      {"tga/bits24.tga", "vda", TTargaGraphic::StaticClass()},   {"tga/bits24.tga", "icb", TTargaGraphic::StaticClass()},
      {"tga/bits24.tga", "win", TTargaGraphic::StaticClass()},   {"pcx/rgb24.pcx", "pcx", TPCXGraphic::StaticClass()},
      {"pcx/rgb24.pcx", "pcc", TPCXGraphic::StaticClass()},      {"pcx/rgb24.pcx", "scr", TPCXGraphic::StaticClass()},
      {"sgi/rgb24.sgi", "sgi", TSGIGraphic::StaticClass()},      {"sgi/rgb24.sgi", "rgb", TSGIGraphic::StaticClass()},
      {"sgi/rgba32-rle.sgi", "rgba", TSGIGraphic::StaticClass()}, {"sgi/gray.bw", "bw", TSGIGraphic::StaticClass()},
      {"autodesk/colors.cel", "cel", TAutodeskGraphic::StaticClass()},
      {"autodesk/colors.cel", "pic", TAutodeskGraphic::StaticClass()},
      {"cut/gray.cut", "cut", TCUTGraphic::StaticClass()},       {"pnm/ppm-raw.ppm", "ppm", TPPMGraphic::StaticClass()},
      {"pnm/pgm-raw.pgm", "pgm", TPPMGraphic::StaticClass()},    {"pnm/pbm-raw.pbm", "pbm", TPPMGraphic::StaticClass()},
      {"rla/rgb.rla", "rla", TRLAGraphic::StaticClass()},        {"rla/rgb.rla", "rpf", TRLAGraphic::StaticClass()},
      {"psd/rgb24-rle.psd", "psd", TPSDGraphic::StaticClass()},  {"psd/rgb24-rle.psd", "PDD", TPSDGraphic::StaticClass()},
      {"psp/rgb24-rle.psp", "psp", TPSPGraphic::StaticClass()},  {"pcd/landscape.pcd", "pcd", TPCDGraphic::StaticClass()},
      {"png/rgb8.png", "png", TPNGGraphic::StaticClass()},
  };
  testing::TempDir folder;
  for (const TShared& file : shared) {
    SCOPED_TRACE(file.Extension);
    EXPECT_EQ(ReaderClassByName(file.Reader->Name), file.Reader);
    const std::string path = folder.File(std::string("picture.") + file.Extension);
    testing::WriteFile(path, ReadData(file.Fixture));
    TPicture picture;
    ASSERT_NO_THROW(picture.LoadFile(path));
    EXPECT_EQ(picture.Graphic()->ClassType(), file.Reader);
    const bool photoCD = file.Reader == TPCDGraphic::StaticClass();  // always 768 by 512
    EXPECT_EQ(picture.Width(), photoCD ? 768 : 13);
    EXPECT_EQ(picture.Height(), photoCD ? 512 : 7);
  }
}

TEST(ReaderRegistrationTest, EachReaderRecognisesItsOwnFilesAndReadsThemFromTheMiddleOfAStream) {
  InstallReaders();
  const std::pair<const char*, bool (*)(TStream&)> readers[] = {
      {"tga/bits24.tga", &TTargaGraphic::CanReadStream},  // no colour map, entry size 0
      {"pcx/index8.pcx", &TPCXGraphic::CanReadStream},       {"sgi/rgb48.sgi", &TSGIGraphic::CanReadStream},
      {"autodesk/colors.cel", &TAutodeskGraphic::CanReadStream}, {"pnm/ppm-plain.ppm", &TPPMGraphic::CanReadStream},
      {"rla/rgb-matte.rla", &TRLAGraphic::CanReadStream},    {"cut/gray.cut", &TCUTGraphic::CanReadStream},
      {"psd/cmyk32-rle.psd", &TPSDGraphic::CanReadStream},   {"psp/layers-rle.psp", &TPSPGraphic::CanReadStream},
      {"pcd/portrait.pcd", &TPCDGraphic::CanReadStream},
      {"png/netpbm-rgba16-interlaced.png", &TPNGGraphic::CanReadStream},
  };
  for (const auto& [fixture, _] : readers) {
    SCOPED_TRACE(fixture);
    TMemoryStream stream;
    stream.WriteText("ahead" + ReadData(fixture));
    for (const auto& [own, canRead] : readers) {
      stream.SetPosition(5);
      // Dr. Halo pictures have no signature to recognise them by.
      EXPECT_EQ(canRead(stream), own == fixture && canRead != &TCUTGraphic::CanReadStream) << "read as " << own;
      EXPECT_EQ(stream.Position(), 5);
    }
    TPicture picture;
    picture.LoadFile(DataFile(fixture));
    const auto reader = picture.Graphic()->ClassType()->NewInstance();
    reader->LoadStream(stream);
    EXPECT_EQ(testing::RgbBytes(dynamic_cast<TBitmap&>(*reader)), testing::RgbBytes(picture.Bitmap()));
  }
}

}  // namespace
}  // namespace driftpost
