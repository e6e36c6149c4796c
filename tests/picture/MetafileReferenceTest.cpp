// Metafiles written by other programs, drawn here and compared with what independent
// renderers make of the same drawing (PictureCompare.h).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sys/wait.h>

#include "PictureCompare.h"
#include "PictureTestSupport.h"
#include "picture/Metafile.h"

namespace driftpost {
namespace {

using testing::DataFile;
using testing::Psnr;
using testing::RgbBytes;

// Runs a command through the shell; what it printed on its standard output.
std::string Output(const std::string& command) {
  std::string output;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  if (pipe) ::pclose(pipe);
  return output;
}

// A picture file as red, green, blue bytes of the given size, read by ImageMagick.
std::string ImageMagickRgb(const std::string& file, int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  return Output("convert '" + file + "' -background white -flatten -filter box -resize " + size + "! -depth 8 rgb:-");
}

std::string PlayedRgb(const std::string& file, int width, int height) {
  TMetafile metafile;
  metafile.LoadFile(file);
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(width, height);
  canvas.DrawGraphic(0, 0, metafile);
  return RgbBytes(canvas);
}

TEST(MetafileReferenceTest, InkscapesMetafilesLookLikeInkscapesOwnPicture) {
  const std::string reference = ImageMagickRgb(DataFile("metafile/inkscape.png"), 240, 160);
  TMetafile wmf, emf;
  wmf.LoadFile(DataFile("metafile/inkscape.wmf"));
  emf.LoadFile(DataFile("metafile/inkscape.emf"));
  EXPECT_EQ(wmf.Width(), 240);
  EXPECT_EQ(wmf.Height(), 160);
  // The enhanced metafile's frame reaches a pixel or two past the drawing.
  EXPECT_NEAR(emf.Width(), 240, 2);
  EXPECT_NEAR(emf.Height(), 160, 2);
  EXPECT_GT(Psnr(PlayedRgb(DataFile("metafile/inkscape.wmf"), 240, 160), reference), 24);
  EXPECT_GT(Psnr(PlayedRgb(DataFile("metafile/inkscape.emf"), 240, 160), reference), 24);
  // Nothing drawn at all is far off.
  EXPECT_LT(Psnr(std::string(reference.size(), '\xff'), reference), 12);
}

TEST(MetafileReferenceTest, WindowsMetafilesLookLikeLibwmfsPicture) {
  const testing::TempDir dir;
  Output("wmf2gd -t png --maxwidth=240 --maxheight=160 --maxsize -o " + dir.File("libwmf.png") + " " +
         DataFile("metafile/inkscape.wmf") + " 2>/dev/null");
  const std::string reference = ImageMagickRgb(dir.File("libwmf.png"), 240, 160);
  ASSERT_EQ(reference.size(), 240u * 160 * 3) << "wmf2gd (libwmf-bin) made no picture";
  EXPECT_GT(Psnr(PlayedRgb(DataFile("metafile/inkscape.wmf"), 240, 160), reference), 17);
}

TEST(MetafileReferenceTest, PstoeditsMetafilesLookLikeGhostscriptsPicture) {
  const testing::TempDir dir;
  const std::string emfFile = dir.File("scene.emf");
  Output("pstoedit -q -f emf:-OO " + DataFile("metafile/scene.ps") + " " + emfFile + " 2>/dev/null");
  TMetafile metafile;
  ASSERT_NO_THROW(metafile.LoadFile(emfFile)) << "pstoedit made no metafile";
  const int width = metafile.Width(), height = metafile.Height();
  // The drawing fills its 240 by 160 points; the metafile says how large that is.
  EXPECT_NEAR(static_cast<double>(width) / height, 1.5, 0.03);
  Output("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r288 -dEPSCrop -dGraphicsAlphaBits=4 -sOutputFile=" +
         dir.File("gs.png") + " " + DataFile("metafile/scene.ps"));
  const std::string reference = ImageMagickRgb(dir.File("gs.png"), width, height);
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(width) * height * 3) << "Ghostscript made no picture";
  EXPECT_GT(Psnr(PlayedRgb(emfFile, width, height), reference), 19);
}

}  // namespace
}  // namespace driftpost
