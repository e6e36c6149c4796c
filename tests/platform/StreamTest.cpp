#include "platform/Stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempDir.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::TempDir;

TEST(StreamTest, MemoryStreamReadsWhatWasWrittenAndTracksPosition) {
  TMemoryStream stream;
  stream.WriteText("Hello, Newton");
  EXPECT_EQ(stream.Size(), 13);
  EXPECT_EQ(stream.Position(), 13);
  stream.SetPosition(7);
  char buffer[16] = {};
  EXPECT_EQ(stream.Read(buffer, 100), 6);
  EXPECT_STREQ(buffer, "Newton");
  EXPECT_EQ(stream.Read(buffer, 1), 0);
  EXPECT_EQ(stream.Seek(-6, TSeekOrigin::soEnd), 7);
  EXPECT_EQ(stream.Seek(-100, TSeekOrigin::soCurrent), 7);  // refused, position kept
  stream.SetSize(5);
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(stream.AsString(), "Hello");
}

TEST(StreamTest, WritingPastTheEndFillsTheGapWithZeros) {
  TMemoryStream stream;
  stream.Seek(3, TSeekOrigin::soBeginning);
  stream.WriteText("x");
  EXPECT_EQ(stream.AsString(), std::string("\0\0\0x", 4));
}

TEST(StreamTest, ShortReadRaisesTheStreamReadError) {
  TMemoryStream stream;
  stream.WriteText("abc");
  stream.SetPosition(0);
  char buffer[8];
  try {
    stream.ReadBuffer(buffer, 4);
    FAIL() << "no error";
  } catch (const EReadError& error) {
    EXPECT_EQ(error.Message(), "Stream-Lesefehler");
  }
}

TEST(StreamTest, CopyFromWithZeroCountCopiesTheWholeSource) {
  TMemoryStream source, target;
  source.WriteText("0123456789");
  source.SetPosition(4);
  EXPECT_EQ(target.CopyFrom(source, 0), 10);
  EXPECT_EQ(target.AsString(), "0123456789");
  source.SetPosition(2);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(source, 3), 3);
  EXPECT_EQ(part.AsString(), "234");
  EXPECT_THROW(part.CopyFrom(source, 50), EReadError);
}

TEST(StreamTest, FileStreamRoundTripAndOpenErrors) {
  TempDir dir;
  const std::string name = dir.File("data.bin");
  {
    TFileStream out(name, fmCreate);
    out.WriteText("abcdef");
  }
  TFileStream in(name, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(in.Size(), 6);
  in.SetPosition(2);
  char buffer[4] = {};
  in.ReadBuffer(buffer, 3);
  EXPECT_STREQ(buffer, "cde");
  EXPECT_THROW(in.ReadBuffer(buffer, 2), EReadError);

  try {
    TFileStream missing(dir.File("missing"), fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message(), "Datei " + dir.File("missing") + " kann nicht geöffnet werden");
  }
  // A folder is not a file to read.
  EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(dir.File("no/such/dir/x"), fmCreate), EFCreateError);
  EXPECT_TRUE(in.Regular());
  EXPECT_FALSE(TFileStream("/dev/null", fmOpenRead).Regular());
}

TEST(StreamTest, APipeIsRefusedAtOnceInsteadOfWaitedFor) {
  // Opening a pipe that nobody writes to would wait for a writer, for ever.
  TempDir dir;
  const std::string pipe = dir.File("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_THROW(TFileStream(pipe, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(pipe, fmOpenWrite), EFOpenError);
  EXPECT_THROW(TFileStream(pipe, fmCreate), EFCreateError);
  EXPECT_THROW(ReadFileToString(pipe), EFOpenError);
}

TEST(StreamTest, ReadFileToStringReadsEveryByte) {
  TempDir dir;
  std::string content(200000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  testing::WriteFile(dir.File("big"), content);
  EXPECT_EQ(ReadFileToString(dir.File("big")), content);
  TMemoryStream memory;
  memory.LoadFromFile(dir.File("big"));
  EXPECT_EQ(memory.AsString(), content);
  EXPECT_EQ(memory.Position(), 0);
}

}  // namespace
}  // namespace driftpost
