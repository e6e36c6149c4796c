#include "picture/Metafile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "PictureTestSupport.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

using testing::RenderedRgb;

class Bytes {
 public:
  Bytes& U16(std::uint16_t value) { return Raw(&value, 2); }
  Bytes& U32(std::uint32_t value) { return Raw(&value, 4); }
  Bytes& Raw(const void* data, std::size_t size) {
    text_.append(static_cast<const char*>(data), size);
    return *this;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// The 18-byte header of a plain metafile.
Bytes& MetaHeader(Bytes& bytes) { return bytes.U16(1).U16(9).U16(0x300).U32(0).U16(0).U32(5).U16(0); }

std::string Placeable(std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom, std::uint16_t inch) {
  Bytes bytes;
  bytes.U32(0x9AC6CDD7).U16(0).U16(left).U16(top).U16(right).U16(bottom).U16(inch).U32(0).U16(0);
  MetaHeader(bytes).U32(3).U16(0);
  return bytes.Text();
}

std::string Enhanced(std::int32_t right, std::int32_t bottom) {
  Bytes bytes;
  bytes.U32(1).U32(88);
  for (std::int32_t value : {0, 0, 99, 49}) bytes.U32(static_cast<std::uint32_t>(value));  // bounds
  for (std::int32_t value : {0, 0, right, bottom}) bytes.U32(static_cast<std::uint32_t>(value));  // frame
  bytes.U32(0x464D4520).U32(0x10000).U32(88).U32(1).U16(0).U16(0).U32(0).U32(0).U32(0);
  bytes.U32(1024).U32(768).U32(320).U32(240);
  return bytes.Text();
}

std::string LoadResult(TMetafile& metafile, const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  try {
    metafile.LoadStream(stream);
    return "loaded";
  } catch (const Exception& error) {
    return error.Message();
  }
}

TEST(MetafileTest, SizeComesFromTheHeaderOfEachKind) {
  TMetafile metafile;
  ASSERT_EQ(LoadResult(metafile, Placeable(-720, 0, 720, 720, 1440)), "loaded");
  EXPECT_EQ(metafile.Width(), 96);  // an inch at 96 dots per inch
  EXPECT_EQ(metafile.Height(), 48);
  EXPECT_FALSE(metafile.Enhanced());

  ASSERT_EQ(LoadResult(metafile, Enhanced(2540 * 2, 2540)), "loaded");  // hundredths of a millimetre
  EXPECT_EQ(metafile.Width(), 192);
  EXPECT_EQ(metafile.Height(), 96);
  EXPECT_TRUE(metafile.Enhanced());

  Bytes plain;
  MetaHeader(plain).U32(4).U16(0x0103).U16(8);       // SETMAPMODE
  plain.U32(5).U16(0x020C).U16(200).U16(300);        // SETWINDOWEXT: height, width
  plain.U32(3).U16(0);
  ASSERT_EQ(LoadResult(metafile, plain.Text()), "loaded");
  EXPECT_EQ(metafile.Width(), 300);
  EXPECT_EQ(metafile.Height(), 200);

  Bytes noExtent;
  MetaHeader(noExtent).U32(3).U16(0);
  ASSERT_EQ(LoadResult(metafile, noExtent.Text()), "loaded");
  EXPECT_EQ(metafile.Width(), 0);
}

TEST(MetafileTest, BrokenHeadersAndRecordsAreInvalidOrStopTheWalk) {
  const std::string invalid = "Cannot load image. Invalid or unexpected TMetafile image format.";
  TMetafile metafile;
  EXPECT_EQ(LoadResult(metafile, ""), invalid);
  EXPECT_EQ(LoadResult(metafile, "GIF89a and more bytes than a header"), invalid);
  EXPECT_EQ(LoadResult(metafile, Placeable(0, 0, 100, 100, 0)), invalid);  // no units per inch
  // Beyond the picture limits.
  EXPECT_EQ(LoadResult(metafile, Enhanced(2000000000, 2000000000)),
            "Cannot load image. The metafile's picture of 75590551 by 75590551 pixels is larger than pictures may be.");
  EXPECT_EQ(LoadResult(metafile, Enhanced(100, 100).substr(0, 60)), invalid);

  // A record claiming more words than the file holds, and one of no size, end the walk.
  Bytes overlong;
  MetaHeader(overlong).U32(0x7FFFFFFF).U16(0x020C).U16(1).U16(1);
  ASSERT_EQ(LoadResult(metafile, overlong.Text()), "loaded");
  EXPECT_EQ(metafile.Width(), 0);
  Bytes empty;
  MetaHeader(empty).U32(0).U16(0x0103).U16(8).U32(5).U16(0x020C).U16(2).U16(2);
  ASSERT_EQ(LoadResult(metafile, empty.Text()), "loaded");
  EXPECT_EQ(metafile.Width(), 0);
}

TEST(MetafileTest, DrawsNothingAndSavesItsBytes) {
  TMetafile metafile;
  const std::string file = Placeable(0, 0, 144, 96, 1440);
  ASSERT_EQ(LoadResult(metafile, file), "loaded");
  EXPECT_EQ(RenderedRgb(metafile), std::string(10 * 6 * 3, '\xff'));  // 9.6 by 6.4 pixels, rounded
  TMemoryStream saved;
  metafile.SaveStream(saved);
  EXPECT_EQ(saved.AsString(), file);
  TMetafile copy;
  copy.CopyFrom(&metafile);
  EXPECT_EQ(copy.Width(), 10);
  EXPECT_EQ(copy.Height(), 6);
}

}  // namespace
}  // namespace driftpost
