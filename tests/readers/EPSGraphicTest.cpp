#include "readers/EPSGraphic.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"

namespace driftpost {
namespace {

using testing::LoadBytes;
using testing::ReadData;
using testing::TPatchedBytes;

const std::string kInvalidEPS = "Cannot load image. Invalid or unexpected EPS image format.";
const std::string kInvalidTIFF = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";

// Header fields of source-ept2.eps: the TIFF preview's offset at 20 and length at 24.
constexpr std::size_t kPreviewOffset = 20, kPreviewLength = 24;

// TPatchedBytes writes big-endian words; the EPS header is little-endian.
TPatchedBytes& LE32(TPatchedBytes& bytes, std::size_t at, std::uint32_t value) {
  return bytes.LE16(at, value & 0xFFFF).LE16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

bool Recognised(const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  return TEPSGraphic::CanReadStream(stream);
}

TEST(EPSGraphicTest, ThePreviewOfImageMagicksFilesDecodesLikeLibtiffDecodesIt) {
  // The previews' colour maps hold 16-bit values that are no 8-bit level times 257: the
  // palette truncates them where libtiff rounds.
  for (const char* name : {"source-ept2", "source-ept3"}) {
    SCOPED_TRACE(name);
    TEPSGraphic reader;
    ASSERT_NO_THROW(reader.LoadFile(testing::DataFile(std::string("eps/") + name + ".eps")));
    EXPECT_EQ(reader.PixelFormat(), pd8Bit);
    const int worst = testing::MaxDifference(testing::RgbBytes(reader), ReadData(std::string("eps/") + name + ".rgb"));
    EXPECT_GE(worst, 0);
    EXPECT_LE(worst, 1);
  }
}

TEST(EPSGraphicTest, OnlyABinaryHeaderWithAPreviewAfterItIsRecognised) {
  const std::string eps = ReadData("eps/source-ept2.eps");
  EXPECT_TRUE(Recognised(eps));
  TPatchedBytes noPreview(eps);
  EXPECT_FALSE(Recognised(LE32(noPreview, kPreviewLength, 0)));
  TPatchedBytes inHeader(eps);
  EXPECT_FALSE(Recognised(LE32(inHeader, kPreviewOffset, 30)));
  EXPECT_FALSE(Recognised("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 13 7\n"));
  EXPECT_FALSE(Recognised(eps.substr(0, 30)));
}

TEST(EPSGraphicTest, AMissingOrMisplacedPreviewIsRefused) {
  const std::string eps = ReadData("eps/source-ept2.eps");
  TEPSGraphic reader;
  EXPECT_EQ(LoadBytes(reader, "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 13 7\n"), kInvalidEPS);
  EXPECT_EQ(LoadBytes(reader, eps.substr(0, 29)), kInvalidEPS);
  for (const std::uint32_t offset : {0u, 29u, static_cast<std::uint32_t>(eps.size()), 0xFFFFFFFFu}) {
    TPatchedBytes moved(eps);
    EXPECT_EQ(LoadBytes(reader, LE32(moved, kPreviewOffset, offset)), kInvalidEPS) << offset;
  }
  // A preview offset into the PostScript: the TIFF reader refuses what it finds there.
  TPatchedBytes intoPostScript(eps);
  EXPECT_EQ(LoadBytes(reader, LE32(intoPostScript, kPreviewOffset, 40)), kInvalidTIFF);
  // The stated length does not matter to the load: the preview is read as far as its TIFF
  // structure reaches inside the file.
  TPatchedBytes noLength(eps);
  EXPECT_EQ(LoadBytes(reader, LE32(noLength, kPreviewLength, 0)), "loaded");
  testing::LoadEveryPrefix<TEPSGraphic>(eps);
}

TEST(EPSGraphicTest, PreviewOffsetsCountFromWhereTheFileBeginsInTheStream) {
  TEPSGraphic alone;
  ASSERT_NO_THROW(alone.LoadFile(testing::DataFile("eps/source-ept3.eps")));
  TMemoryStream stream;
  stream.WriteText("ahead" + ReadData("eps/source-ept3.eps"));
  stream.SetPosition(5);
  EXPECT_TRUE(TEPSGraphic::CanReadStream(stream));
  EXPECT_EQ(stream.Position(), 5);
  TEPSGraphic inside;
  inside.LoadStream(stream);
  EXPECT_EQ(testing::RgbBytes(inside), testing::RgbBytes(alone));
}

}  // namespace
}  // namespace driftpost
