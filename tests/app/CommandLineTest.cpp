#include "app/core/CommandLine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"

namespace driftpost {
namespace {

using testing::TempDir;
using testing::WriteFile;
using Args = std::vector<std::string>;

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() {
    std::filesystem::create_directories(dir.File("Pictures/Trip"));
    std::filesystem::create_directories(dir.File("Music"));
    WriteFile(dir.File("Pictures/cat.bmp"), "");
    WriteFile(dir.File("Music/song.wav"), "");
    WriteFile(dir.File("-notes.txt"), "");
    std::filesystem::create_symlink(dir.File("Music/song.wav"), dir.File("Pictures/song-link.wav"));
  }
  TCommandLine Parse(const Args& arguments) { return ParseCommandLine(arguments, dir.File("Pictures")); }

  TempDir dir;
};

TEST_F(CommandLineTest, FilesAndFoldersBecomeFullPathsInTheOrderGiven) {
  const TCommandLine line = Parse({"cat.bmp", "./Trip/", dir.File("Music//song.wav"), "../Music", "song-link.wav",
                                   "../Pictures/song-link.wav"});
  ASSERT_EQ(line.Action, TCommandAction::Run) << line.Error;
  // A ".." is resolved through the real folders; the link keeps its own name.
  const std::string real = std::filesystem::canonical(dir.Path()).string();
  EXPECT_EQ(line.Files, (Args{dir.File("Pictures/cat.bmp"), dir.File("Pictures/Trip"), dir.File("Music/song.wav"),
                              real + "/Music", dir.File("Pictures/song-link.wav"), real + "/Pictures/song-link.wav"}));
  EXPECT_EQ(line.Port, "");
  EXPECT_TRUE(Parse({}).Files.empty());
}

TEST_F(CommandLineTest, AMissingFileOrUnknownOptionFailsWithOneLineAndSharesNothing) {
  for (const Args& arguments : {Args{"cat.bmp", "missing.jpg"}, Args{"cat.bmp", "--bogus"}, Args{"-x"},
                                Args{"new\nline.jpg"}, Args{""}}) {
    const TCommandLine line = Parse(arguments);
    EXPECT_EQ(line.Action, TCommandAction::Fail) << arguments.back();
    EXPECT_TRUE(line.Files.empty());
    EXPECT_TRUE(line.Error.starts_with("driftpost: ")) << line.Error;
    EXPECT_EQ(line.Error.find('\n'), std::string::npos) << line.Error;
  }
  EXPECT_NE(Parse({"missing.jpg"}).Error.find("'missing.jpg': No such file or directory"), std::string::npos);
  EXPECT_NE(Parse({"--bogus"}).Error.find("unknown option '--bogus'"), std::string::npos);
  // A file whose name holds a line break exists, but the share list could not keep it.
  WriteFile(dir.File("Pictures/two\nlines.bmp"), "");
  EXPECT_NE(Parse({"two\nlines.bmp"}).Error.find("line break"), std::string::npos);
  // After "--" every argument is a name, and "-" alone always is one.
  EXPECT_EQ(ParseCommandLine({"--", "-notes.txt"}, dir.Path()).Files, Args{dir.File("-notes.txt")});
  EXPECT_NE(Parse({"-"}).Error.find("'-': No such file"), std::string::npos);
}

TEST_F(CommandLineTest, PortIsANumberFromOneTo65535) {
  EXPECT_EQ(Parse({"--port", "8080", "cat.bmp"}).Port, "8080");
  EXPECT_EQ(Parse({"cat.bmp", "--port=65535"}).Port, "65535");
  for (const Args& arguments : {Args{"--port"}, Args{"--port", "0"}, Args{"--port=65536"}, Args{"--port", "http"},
                                Args{"--port", "-1"}, Args{"--port="}, Args{"--port", "080808"}})
    EXPECT_EQ(Parse(arguments).Action, TCommandAction::Fail) << arguments.back();
}

TEST_F(CommandLineTest, HelpAndVersionNeedNothingElse) {
  EXPECT_EQ(Parse({"--help", "missing.jpg"}).Action, TCommandAction::ShowHelp);
  EXPECT_EQ(Parse({"-h"}).Action, TCommandAction::ShowHelp);
  EXPECT_EQ(Parse({"--version"}).Action, TCommandAction::ShowVersion);
  // An option is read in order: a wrong one before --help is reported.
  EXPECT_EQ(Parse({"--bogus", "--help"}).Action, TCommandAction::Fail);
  const std::string help = CommandLineHelp("/home/me/.config/driftpost/driftpost.ini", "/x/driftpost.container");
  EXPECT_TRUE(help.starts_with("Usage: driftpost [--port N] [FILE|FOLDER]...\n"));
  EXPECT_NE(help.find("/home/me/.config/driftpost/driftpost.ini"), std::string::npos);
}

}  // namespace
}  // namespace driftpost
