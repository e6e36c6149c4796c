#include <gtest/gtest.h>

#include "RunningProgram.h"
#include "TempDir.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::RunningProgram;
using testing::TempDir;
using testing::WriteFile;

TEST(ProgramRunTest, StartsWithoutDisplayAndSaysSo) {
  TempDir dir;
  RunningProgram program(dir.Path());
  EXPECT_TRUE(program.WaitForOutput("offscreen")) << program.Output();
  EXPECT_TRUE(program.WaitForOutput("Driftpost V1.00 BETA")) << program.Output();
  program.Signal(SIGINT);
  EXPECT_EQ(program.WaitForExit(), 0) << program.Output();
  // An empty share list is written as an empty file.
  EXPECT_EQ(ReadFile(dir.File("driftpost.container")), "");
}

TEST(ProgramRunTest, ShareListSurvivesStartAndTermination) {
  TempDir dir;
  WriteFile(dir.File("driftpost.container"),
            "/home/me/notes.txt\n/home/me/cat.bmp\r\n/home/me/song.wav\r/home/me/app.pkg\r\n/home/me/dog.JPG");
  for (int signal : {SIGTERM, SIGHUP}) {
    RunningProgram program(dir.Path());
    ASSERT_TRUE(program.WaitForOutput("Driftpost V1.00 BETA")) << program.Output();
    program.Signal(signal);
    EXPECT_EQ(program.WaitForExit(), 0) << program.Output();
    EXPECT_EQ(ReadFile(dir.File("driftpost.container")),
              "/home/me/cat.bmp\r\n/home/me/dog.JPG\r\n/home/me/app.pkg\r\n/home/me/song.wav\r\n"
              "/home/me/notes.txt\r\n");
  }
}

TEST(ProgramRunTest, ContainerMaximizedAtStartIsNormalAfterExit) {
  TempDir dir;
  WriteFile(dir.File("driftpost.ini"), "[Container]\r\nWS=2\r\nTop=30\r\nLeft=20\r\nHeight=250\r\nWidth=300\r\n");
  RunningProgram program(dir.Path());
  ASSERT_TRUE(program.WaitForOutput("Driftpost V1.00 BETA")) << program.Output();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(), 0) << program.Output();
  // The console window writes nothing back; the Container window its normal bounds.
  EXPECT_EQ(ReadFile(dir.File("driftpost.ini")),
            "[Container]\r\nWS=0\r\nTop=30\r\nLeft=20\r\nHeight=250\r\nWidth=300\r\n");
}

}  // namespace
}  // namespace driftpost
