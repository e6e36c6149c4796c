#include "http/AnswerStream.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "TempDir.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Reads the stream to its end in pieces of `piece` bytes.
std::string ReadAll(TStream& stream, std::int64_t piece) {
  std::string text;
  std::string buffer(static_cast<std::size_t>(piece), '\0');
  for (std::int64_t got; (got = stream.Read(buffer.data(), piece)) > 0;)
    text.append(buffer, 0, static_cast<std::size_t>(got));
  return text;
}

class AnswerStreamTest : public ::testing::Test {
 protected:
  // An answer of a head and the file `name` holding `content` as its tail.
  std::unique_ptr<TAnswerStream> Answer(const std::string& name, const std::string& content) {
    WriteFile(dir.File(name), content);
    auto answer = std::make_unique<TAnswerStream>();
    answer->WriteText("HEAD\r\n\r\n");
    auto file = std::make_unique<TFileStream>(dir.File(name), fmOpenRead);
    const std::int64_t size = file->Size();
    answer->AttachFile(std::move(file), size);
    answer->SetPosition(0);
    return answer;
  }

  TempDir dir;
};

TEST_F(AnswerStreamTest, TheHeadAndThenTheFileComeOutWhateverThePieces) {
  std::string content(100000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 251);
  auto answer = Answer("file", content);
  EXPECT_EQ(answer->Size(), 8 + 100000);
  EXPECT_EQ(answer->HeadSize(), 8);
  for (std::int64_t piece : {1, 5, 8, 9, 1514, 65536, 200000}) {
    answer->SetPosition(0);
    EXPECT_EQ(ReadAll(*answer, piece), "HEAD\r\n\r\n" + content) << piece;
  }
  // Seeking lands in the head or in the tail alike.
  answer->Seek(-3, TSeekOrigin::soEnd);
  char last[3];
  EXPECT_EQ(answer->Read(last, 10), 3);
  EXPECT_EQ(std::string(last, 3), content.substr(content.size() - 3));
  answer->SetPosition(6);
  EXPECT_EQ(ReadAll(*answer, 4).substr(0, 4), "\r\n" + content.substr(0, 2));
  // Nothing is written after the head once the tail is there.
  EXPECT_EQ(answer->Write("x", 1), 0);
  EXPECT_THROW(answer->SetSize(0), EWriteError);
}

TEST_F(AnswerStreamTest, AFileThatGrowsGivesItsOldLengthAndOneThatShrinksFailsAtItsEnd) {
  auto grows = Answer("grows", "0123456789");
  WriteFile(dir.File("grows"), "0123456789 and more");
  EXPECT_EQ(ReadAll(*grows, 4), "HEAD\r\n\r\n0123456789");

  auto shrinks = Answer("shrinks", "0123456789");
  char buffer[12];
  EXPECT_EQ(shrinks->Read(buffer, 12), 12);
  std::filesystem::resize_file(dir.File("shrinks"), 6);
  // What the file still has comes first; the next read says what happened.
  EXPECT_EQ(shrinks->Read(buffer, 12), 2);
  EXPECT_EQ(std::string(buffer, 2), "45");
  try {
    shrinks->Read(buffer, 12);
    FAIL() << "no error for a file that shrank";
  } catch (const EReadError& error) {
    EXPECT_EQ(error.Message(), dir.File("shrinks") + " became shorter while it was sent: 6 of 10 bytes");
  }
}

}  // namespace
}  // namespace driftpost
