// Pictures and icons as the running program sends them to a browser, checked with tools that
// share no code with it: ImageMagick makes the pictures and reads the answers, libjpeg's
// djpeg and cjpeg decode and encode, and a short script resamples from the description of
// the triangle filter.
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "PictureCompare.h"
#include "ServingProgram.h"

namespace driftpost {
namespace {

using testing::Psnr;
using testing::ReadFile;
using testing::RunCommand;
using testing::THttpAnswer;
using testing::WriteFile;

const std::string Convert = "/usr/bin/convert";

// The pictures the program shares, made by ImageMagick: flat colours where only the size
// matters, a smooth photo-like picture where the pixels are compared. The bitmaps are 24-bit
// Windows bitmaps of the plain kind.
const std::vector<std::pair<std::string, std::string>> MadePictures = {
    {"photo.bmp", "-seed 7 -size 640x480 plasma:fractal -blur 0x3 -type TrueColor bmp3:"},
    {"photo1024.jpg", "photo.bmp -resize 1024x768! -quality 85 "},
    {"photo300.jpg", "photo.bmp -resize 300x200! -quality 85 "},
    {"photo640.jpg", "photo.bmp -quality 85 "},                  // shrinks by exactly 2
    {"photo639.jpg", "photo.bmp -resize 639x479! -quality 85 "},  // by a little less
    {"photo200.bmp", "photo.bmp -resize 200x150! -type TrueColor bmp3:"},
    {"palette.bmp", "photo.bmp -resize 400x300! -colors 200 -type Palette bmp3:"},
    {"tall.bmp", "-size 300x600 xc:teal -type TrueColor bmp3:"},
    {"square.bmp", "-size 400x400 xc:teal -type TrueColor bmp3:"},
    {"screen.bmp", "-size 320x320 xc:teal -type TrueColor bmp3:"},
    {"small.bmp", "-size 200x100 xc:teal -type TrueColor bmp3:"},
    {"wide301.bmp", "-size 640x301 xc:teal -type TrueColor bmp3:"},
    {"wide303.bmp", "-size 640x303 xc:teal -type TrueColor bmp3:"},
    {"line.bmp", "-size 1000x1 xc:teal -type TrueColor bmp3:"},
    {"anim.gif", "-size 20x20 xc:red "},
    {"photo.png", "photo.bmp PNG24:"},
    {"photo-interlaced-alpha.png", "photo.bmp -alpha set -channel A -fx 'i/w' +channel -interlace PNG PNG32:"},
};

// A placeable Windows metafile of 240 by 240 twips at 1440 per inch, 16 by 16 pixels, that
// holds only its end record.
const std::string SmallMetafile(
    "\xD7\xCD\xC6\x9A\0\0"          // placeable key, handle
    "\0\0\0\0\xF0\0\xF0\0"          // bounds 0, 0, 240, 240
    "\xA0\x05\0\0\0\0\0\0"          // 1440 units per inch, reserved, checksum
    "\x01\0\x09\0\0\x03\x0C\0\0\0"  // in a file, 9 words of header, version 3, 12 words in all
    "\0\0\x03\0\0\0\0\0"            // no objects, largest record 3 words, no parameters
    "\x03\0\0\0\0\0",               // end record
    46);

class PictureDeliveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = new testing::TempDir;
    std::string container;
    for (const auto& [name, recipe] : MadePictures) {
      std::string output;
      const bool source = recipe.starts_with("photo.bmp");
      ASSERT_EQ(RunCommand(Convert + " " + (source ? File("") : "") + recipe + File(name), output), 0) << output;
      container += File(name) + "\r\n";
    }
    WriteFile(File("symbol.ico"), ReadFile(DRIFTPOST_TEST_DATA "/ico/palette4.ico"));
    WriteFile(File("multi.ico"), ReadFile(DRIFTPOST_TEST_DATA "/ico/multi.ico"));
    WriteFile(File("drawing.wmf"), SmallMetafile);
    const std::string inkscape = ReadFile(DRIFTPOST_TEST_DATA "/metafile/inkscape.wmf");
    WriteFile(File("inkscape.wmf"), inkscape);
    WriteFile(File("inkscape.emf"), ReadFile(DRIFTPOST_TEST_DATA "/metafile/inkscape.emf"));
    // The same drawing at three times the size: 400 units to the inch instead of 1200.
    WriteFile(File("large.wmf"), inkscape.substr(0, 14) + std::string("\x90\x01", 2) + inkscape.substr(16));
    WriteFile(File("damaged.bmp"), ReadFile(DRIFTPOST_TEST_DATA "/bmp/bits24.bmp").substr(0, 100));
    WriteFile(File("vanished.bmp"), ReadFile(DRIFTPOST_TEST_DATA "/bmp/bits24.bmp"));
    for (const char* name : {"symbol.ico", "multi.ico", "drawing.wmf", "inkscape.wmf", "inkscape.emf", "large.wmf",
                             "damaged.bmp", "vanished.bmp"})
      container += File(name) + "\r\n";
    WriteFile(File("driftpost.container"), container);
    serving = new testing::ServingProgram(folder->Path());
    ASSERT_TRUE(serving->Started()) << serving->Output();
    index = serving->Get("/").Body;
    std::filesystem::remove(File("vanished.bmp"));
  }
  static void TearDownTestSuite() {
    if (serving) {
      EXPECT_EQ(serving->Stop(), 0) << serving->Output();
    }
    delete serving;
    delete folder;
  }
  void SetUp() override { ASSERT_TRUE(serving && serving->Started()) << "the program did not start"; }

  static std::string File(const std::string& name) { return folder->File(name); }

  // The identifier the index page links a shared file by.
  static std::string Id(const std::string& name) {
    const std::size_t at = index.find(R"(.html">)" + name + "</a>");
    if (at == std::string::npos) {
      ADD_FAILURE() << name << " is not on the index page";
      return "0";
    }
    std::size_t start = at;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(index[start - 1]))) --start;
    return index.substr(start, at - start);
  }

  // The path that asks for a shared file by its identifier, with the extension.
  static std::string Link(const std::string& name, const std::string& extension) {
    std::string target = "/";
    target += Id(name);
    target += extension;
    return target;
  }

  // What the program sends for the target; a failure when it is not a complete JPEG answer.
  static std::string Jpeg(const std::string& target) {
    const THttpAnswer answer = serving->Get(target);
    EXPECT_EQ(answer.StatusLine, "HTTP/1.0 200 OK") << target;
    EXPECT_EQ(answer.Field("Content-Type"), "image/jpeg") << target;
    EXPECT_EQ(answer.Field("Content-Length"), std::to_string(answer.Body.size())) << target;
    return answer.Body;
  }

  // Size, estimated quality and sampling factors of a JPEG picture, as ImageMagick reads it.
  static std::string Identify(const std::string& jpeg) {
    WriteFile(File("answer.jpg"), jpeg);
    std::string output;
    RunCommand("identify -format '%wx%h %Q %[jpeg:sampling-factor]' " + File("answer.jpg"), output);
    return output;
  }

  // The pixels of a binary PPM file (djpeg's and ImageMagick's output) as red, green, blue.
  static std::string PpmPixels(const std::string& command) {
    std::string ppm;
    EXPECT_EQ(RunCommand(command, ppm), 0) << ppm;
    std::size_t at = 2;
    for (int field = 0; field < 3; ++field) {
      at = ppm.find_first_not_of(" \t\r\n", at);
      at = ppm.find_first_of(" \t\r\n", at);
    }
    return at == std::string::npos ? std::string() : ppm.substr(at + 1);
  }

  // The JPEG file that an independent road makes from the pixels that `ppmCommand` writes as
  // a binary PPM: resampled to width × height by a script written from the description of
  // the triangle filter (unless the size stays), encoded by libjpeg's cjpeg with the
  // program's settings.
  static std::string Reference(const std::string& ppmCommand, int width, int height) {
    std::string output;
    const std::string scale =
        " | python3 " DRIFTPOST_TEST_DATA "/../app/scale_reference.py /dev/stdin " + std::to_string(width) + " " +
        std::to_string(height);
    EXPECT_EQ(RunCommand(ppmCommand + (width > 0 ? scale : "") +
                             " | cjpeg -quality 90 -sample 2x2,1x1,1x1 > " + File("reference.jpg"),
                         output),
              0)
        << output;
    return ReadFile(File("reference.jpg"));
  }

  // The number the program's log gives the last request for `target`.
  static std::string RequestNumber(const std::string& target) {
    const std::string line = ": GET " + target + "\n";
    if (!serving->Program().WaitForOutput(line)) return "none";
    const std::string& output = serving->Output();
    const std::size_t at = output.rfind(line);
    const std::size_t start = output.rfind('\n', at) + 1;  // 0 when it is the first line
    return output.substr(start, at - start);
  }

  static testing::TempDir* folder;
  static testing::ServingProgram* serving;
  static std::string index;
};

testing::TempDir* PictureDeliveryTest::folder = nullptr;
testing::ServingProgram* PictureDeliveryTest::serving = nullptr;
std::string PictureDeliveryTest::index;

TEST_F(PictureDeliveryTest, ShrunkPicturesFitTheScreenWithTheirProportions) {
  const struct {
    const char* Name;
    const char* Extension;
    const char* Size;  // width x height, then the encoder's settings
  } cases[] = {
      {"photo.bmp", ".ajpeg", "320x240 90 2x2,1x1,1x1"},
      {"photo.bmp", ".jpeg", "640x480 90 2x2,1x1,1x1"},  // full size
      {"tall.bmp", ".ajpeg", "160x320 90 2x2,1x1,1x1"},
      {"square.bmp", ".ajpeg", "320x320 90 2x2,1x1,1x1"},
      {"screen.bmp", ".ajpeg", "320x320 90 2x2,1x1,1x1"},
      {"small.bmp", ".ajpeg", "200x100 90 2x2,1x1,1x1"},
      {"wide301.bmp", ".ajpeg", "320x150 90 2x2,1x1,1x1"},  // 150.5: the even neighbour
      {"wide303.bmp", ".ajpeg", "320x152 90 2x2,1x1,1x1"},  // 151.5
  };
  for (const auto& c : cases)
    EXPECT_EQ(Identify(Jpeg(Link(c.Name, c.Extension))), c.Size) << c.Name << c.Extension;
  // 1000 by 1 shrinks to 320 by 0: an answer without a picture, but an answer.
  EXPECT_EQ(Jpeg(Link("line.bmp", ".ajpeg")), "");
}

TEST_F(PictureDeliveryTest, JpegFilesGoOutAsStoredUnlessTheyAreShrunk) {
  const std::string small = ReadFile(File("photo300.jpg"));
  EXPECT_EQ(Jpeg(Link("photo300.jpg", ".jpeg")), small);
  EXPECT_EQ(Jpeg(Link("photo300.jpg", ".ajpeg")), small);
  const std::string large = ReadFile(File("photo1024.jpg"));
  EXPECT_EQ(Jpeg(Link("photo1024.jpg", ".jpeg")), large);
  EXPECT_EQ(Identify(large), "1024x768 85 2x2,1x1,1x1");
  EXPECT_EQ(Identify(Jpeg(Link("photo1024.jpg", ".ajpeg"))), "320x240 90 2x2,1x1,1x1");
}

TEST_F(PictureDeliveryTest, AShrunkBitmapIsTheTriangleFilterOfItsPixels) {
  const std::string sent = Jpeg(Link("photo.bmp", ".ajpeg"));
  // The same pixels resampled independently and encoded by libjpeg's own cjpeg with the
  // same settings give the same file, byte for byte.
  EXPECT_TRUE(sent == Reference(Convert + " " + File("photo.bmp") + " ppm:-", 320, 240))
      << "the answer differs from the reference";

  // And it looks like ImageMagick's own triangle filter, which places the pixels a little
  // differently.
  WriteFile(File("sent.jpg"), sent);
  const std::string ours = PpmPixels("djpeg " + File("sent.jpg"));
  const std::string theirs =
      PpmPixels(Convert + " " + File("photo.bmp") + " -filter Triangle -resize 320x240! ppm:-");
  ASSERT_EQ(ours.size(), 320u * 240 * 3);
  ASSERT_EQ(theirs.size(), ours.size());
  double difference[3] = {};
  for (std::size_t i = 0; i < ours.size(); ++i)
    difference[i % 3] += std::abs(static_cast<unsigned char>(ours[i]) - static_cast<unsigned char>(theirs[i]));
  for (double channel : difference) EXPECT_LT(channel / (320 * 240), 3.0);
}

TEST_F(PictureDeliveryTest, JpegFilesThatShrinkByTwoOrMoreAreDecodedAtASmallerScale) {
  // Decoded at the smallest scale in eighths that still gives the fitted size (libjpeg's
  // djpeg decodes the same way), then resampled from there as any bitmap is.
  EXPECT_TRUE(Jpeg(Link("photo1024.jpg", ".ajpeg")) == Reference("djpeg -scale 3/8 " + File("photo1024.jpg"), 320, 240))
      << "1024 by 768 at 3/8";
  EXPECT_TRUE(Jpeg(Link("photo640.jpg", ".ajpeg")) == Reference("djpeg -scale 4/8 " + File("photo640.jpg"), 0, 0))
      << "640 by 480 at 4/8: the fitted size already";
  // Shrinking by less than 2, the picture is decoded at its full size.
  EXPECT_TRUE(Jpeg(Link("photo639.jpg", ".ajpeg")) == Reference("djpeg " + File("photo639.jpg"), 320, 240))
      << "639 by 479 at full size";
}

TEST_F(PictureDeliveryTest, BitmapsAreSentFromTheirOwnPixelsInAnyFormat) {
  // Unscaled: the bitmap's pixels encoded as they are, the same answer at either size.
  const std::string unscaled = Reference(Convert + " " + File("photo200.bmp") + " ppm:-", 0, 0);
  EXPECT_TRUE(Jpeg(Link("photo200.bmp", ".ajpeg")) == unscaled);
  EXPECT_TRUE(Jpeg(Link("photo200.bmp", ".jpeg")) == unscaled);
  // A palette bitmap is resampled from its colours.
  EXPECT_TRUE(Jpeg(Link("palette.bmp", ".ajpeg")) == Reference(Convert + " " + File("palette.bmp") + " ppm:-", 320, 240));
}

TEST_F(PictureDeliveryTest, PngFilesGoOutAsTheSameJpegAsABitmapOfTheirPixels) {
  // The colours of a PNG file, alpha or not, interlaced or not, are the bitmap's colours.
  for (const char* extension : {".jpeg", ".ajpeg"})
    for (const char* name : {"photo.png", "photo-interlaced-alpha.png"})
      EXPECT_TRUE(Jpeg(Link(name, extension)) == Jpeg(Link("photo.bmp", extension))) << name << extension;
}

TEST_F(PictureDeliveryTest, IconsAreSixteenBySixteenPicturesOnWhite) {
  for (const char* target : {"/folder", "/folder.gif", "/folder.anything", "/picture", "/sound", "/package"})
    EXPECT_EQ(Identify(Jpeg(target)), "16x16 90 2x2,1x1,1x1") << target;
  // The box's top row is transparent; its side is brown, red well above blue.
  WriteFile(File("folder.jpg"), Jpeg("/folder"));
  const std::string pixels = PpmPixels("djpeg " + File("folder.jpg"));
  ASSERT_EQ(pixels.size(), 16u * 16 * 3);
  for (int channel = 0; channel < 3; ++channel) EXPECT_GT(static_cast<unsigned char>(pixels[channel]), 235);
  const std::size_t side = (10 * 16 + 8) * 3;
  EXPECT_GT(static_cast<unsigned char>(pixels[side]), static_cast<unsigned char>(pixels[side + 2]) + 40);
  // The names are case-sensitive: /Folder is looked for among the other files.
  const THttpAnswer folder = serving->Get("/Folder");
  EXPECT_EQ(folder.Field("Content-Type"), "text/html");
  EXPECT_NE(folder.Body.find("<H3>Sorry!"), std::string::npos);
}

TEST_F(PictureDeliveryTest, IconsAndMetafilesAreDrawnOnWhiteAtTheirOwnSize) {
  // Icons: their first image, the transparent parts (mask or alpha) white, as ImageMagick
  // flattens them; its pixels encoded by libjpeg's cjpeg with the same settings look the same.
  for (const char* name : {"symbol.ico", "multi.ico"}) {
    std::string output;
    ASSERT_EQ(RunCommand(Convert + " '" + File(name) + "[0]' -background white -flatten -depth 8 ppm:- | " +
                             "cjpeg -quality 90 -sample 2x2,1x1,1x1 > " + File("theirs.jpg"),
                         output),
              0)
        << output;
    const std::string theirs = PpmPixels("djpeg " + File("theirs.jpg"));
    for (const char* extension : {".jpeg", ".ajpeg"}) {
      const std::string sent = Jpeg(Link(name, extension));
      WriteFile(File("sent.jpg"), sent);
      const std::string side = std::string(name) == "multi.ico" ? "16x16" : "32x32";
      EXPECT_EQ(Identify(sent), side + " 90 2x2,1x1,1x1") << name << extension;
      EXPECT_GT(Psnr(PpmPixels("djpeg " + File("sent.jpg")), theirs), 40) << name << extension;
    }
  }
  // Metafiles: the records drawn, here compared with Inkscape's own picture of the drawing.
  const std::string inkscape = PpmPixels(Convert + " " DRIFTPOST_TEST_DATA "/metafile/inkscape.png ppm:-");
  for (const char* extension : {".jpeg", ".ajpeg"}) {
    const std::string sent = Jpeg(Link("inkscape.wmf", extension));
    WriteFile(File("sent.jpg"), sent);
    EXPECT_EQ(Identify(sent), "240x160 90 2x2,1x1,1x1") << extension;
    EXPECT_GT(Psnr(PpmPixels("djpeg " + File("sent.jpg")), inkscape), 24) << extension;
  }
  WriteFile(File("sent.jpg"), Jpeg(Link("inkscape.emf", ".jpeg")));
  const std::string emf = PpmPixels(Convert + " " + File("sent.jpg") + " -crop 240x160+0+0 ppm:-");
  EXPECT_GT(Psnr(emf, inkscape), 24);
  // A metafile larger than the screen takes the shrinking road; one that draws nothing is a
  // white picture.
  EXPECT_EQ(Identify(Jpeg(Link("large.wmf", ".ajpeg"))), "320x213 90 2x2,1x1,1x1");
  EXPECT_EQ(Identify(Jpeg(Link("large.wmf", ".jpeg"))), "720x480 90 2x2,1x1,1x1");
  WriteFile(File("sent.jpg"), Jpeg(Link("drawing.wmf", ".jpeg")));
  const std::string blank = PpmPixels("djpeg " + File("sent.jpg"));
  EXPECT_EQ(blank.size(), 16u * 16 * 3);
  EXPECT_GT(Psnr(blank, std::string(blank.size(), '\xff')), 40);
}

TEST_F(PictureDeliveryTest, PicturesThatCannotBeSentAsJpegGetThe500Answer) {
  const struct {
    std::string Target;
    std::string Reason;
  } cases[] = {
      {Link("anim.gif", ".jpeg"), "Unbekannte Bilddateierweiterung (.gif)"},
      {Link("anim.gif", ".ajpeg"), "Unbekannte Bilddateierweiterung (.gif)"},
      {Link("damaged.bmp", ".jpeg"), "Stream-Lesefehler"},
      {Link("vanished.bmp", ".ajpeg"), "Datei " + File("vanished.bmp") + " kann nicht geöffnet werden"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(serving->Get(c.Target).StatusLine, "HTTP/1.0 500 Internal Server Error") << c.Target;
    // The log says why, on the line after the request's own.
    const std::string why = RequestNumber(c.Target) + ": 500 Internal Server Error: " + c.Reason + "\n";
    EXPECT_TRUE(serving->Program().WaitForOutput(why, std::chrono::seconds(5))) << why << serving->Output();
  }
}

}  // namespace
}  // namespace driftpost
