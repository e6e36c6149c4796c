#include "platform/IniFile.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "TempDir.h"
#include "platform/AtomicFile.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(IniFileTest, MissingFileSectionOrKeyYieldsTheDefault) {
  TempDir dir;
  TIniFile missing(dir.File("none.ini"));
  EXPECT_EQ(missing.ReadString("Data", "Port", "80"), "80");
  EXPECT_EQ(missing.ReadInteger("Data", "DisplayHeader", 0), 0);

  WriteFile(dir.File("a.ini"), "[Data]\r\nPort=8080\r\n");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("Other", "Port", "80"), "80");
  EXPECT_EQ(ini.ReadString("Data", "Missing", "x"), "x");
}

TEST(IniFileTest, SectionsAndKeysIgnoreLetterCase) {
  TempDir dir;
  WriteFile(dir.File("a.ini"), "; comment\n[container]\nwidth = 400\n\n[DATA]\nPORT= 8080 \n");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadInteger("Container", "Width", 0), 400);
  EXPECT_EQ(ini.ReadString("Data", "Port", "80"), "8080");
  EXPECT_TRUE(ini.SectionExists("Data"));
  EXPECT_FALSE(ini.SectionExists("WebServer"));
}

TEST(IniFileTest, NonIntegerValueReadsAsTheDefault) {
  TempDir dir;
  WriteFile(dir.File("a.ini"), "[WebServer]\nWidth=wide\nHeight=12px\nTop=\nLeft=-40\n");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadInteger("WebServer", "Width", 357), 357);
  EXPECT_EQ(ini.ReadInteger("WebServer", "Height", 286), 286);
  EXPECT_EQ(ini.ReadInteger("WebServer", "Top", 447), 447);
  EXPECT_EQ(ini.ReadInteger("WebServer", "Left", 354), -40);
}

TEST(IniFileTest, WritingCreatesWhatIsMissingAndKeepsEverythingElse) {
  TempDir dir;
  const std::string name = dir.File("a.ini");
  {
    TIniFile ini(name);
    ini.WriteInteger("Container", "WS", 2);
    ini.WriteInteger("Container", "Top", 109);
  }
  EXPECT_EQ(ReadFile(name), "[Container]\r\nWS=2\r\nTop=109\r\n");

  WriteFile(name, "; my notes\r\n[Data]\r\nPort=8080\r\nDisplayHeader=1\r\n\r\n[container]\r\nws=2\r\n");
  TIniFile ini(name);
  ini.WriteInteger("Container", "WS", 0);
  ini.WriteInteger("Container", "Left", 791);
  ini.WriteString("Data", "Extra", "yes");
  EXPECT_EQ(ReadFile(name),
            "; my notes\r\n[Data]\r\nPort=8080\r\nDisplayHeader=1\r\nExtra=yes\r\n\r\n"
            "[container]\r\nWS=0\r\nLeft=791\r\n");
  TIniFile again(name);
  EXPECT_EQ(again.ReadInteger("CONTAINER", "left", 0), 791);
  EXPECT_EQ(again.ReadString("Data", "Port", ""), "8080");
}

// Runs `body` with files limited to `bytes`, so that a longer write fails as on a full disk.
template <typename Body>
void WithFileSizeLimit(rlim_t bytes, Body body) {
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = bytes;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  body();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
}

TEST(IniFileTest, FailedWriteKeepsTheOldFileWhole) {
  TempDir dir;
  const std::string name = dir.File("a.ini");
  const std::string old = "[Data]\r\nPort=8080\r\n";
  WriteFile(name, old);
  WithFileSizeLimit(8, [&] {
    TIniFile ini(name);
    EXPECT_THROW(ini.WriteString("Data", "Note", std::string(100, 'x')), EFCreateError);
  });
  EXPECT_EQ(ReadFile(name), old);
  // No temporary file is left behind.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) (void)entry, ++files;
  EXPECT_EQ(files, 1);
}

TEST(IniFileTest, AtomicWriteReplacesThroughASymbolicLink) {
  TempDir dir;
  WriteFile(dir.File("real.ini"), "old");
  std::filesystem::create_symlink(dir.File("real.ini"), dir.File("link.ini"));
  WriteFileAtomically(dir.File("link.ini"), "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
  EXPECT_EQ(ReadFile(dir.File("real.ini")), "new");
}

}  // namespace
}  // namespace driftpost
