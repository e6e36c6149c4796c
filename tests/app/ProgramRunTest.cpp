#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>

#include "ServingProgram.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::RunCommand;
using testing::RunningProgram;
using testing::TempDir;
using testing::WriteFile;

// The program serving on a free loopback port, in a folder of its own.
class ServingProgramTest : public ::testing::Test {
 protected:
  void Start() {
    serving = std::make_unique<testing::ServingProgram>(dir.Path());
    ASSERT_TRUE(serving->Started()) << serving->Output();
    port = serving->Port();
  }
  std::string Exchange(const std::string& request) { return serving->Exchange(request); }
  void TearDown() override {
    if (serving) {
      EXPECT_EQ(serving->Stop(), 0) << serving->Output();
    }
  }

  TempDir dir;
  std::string port;
  std::unique_ptr<testing::ServingProgram> serving;
};

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

TEST(ProgramRunTest, FilesOnTheCommandLineAreSharedAsADropSharesThem) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("Shared/Trip"));
  WriteFile(dir.File("Shared/cat.bmp"), ReadFile(DRIFTPOST_TEST_DATA "/bmp/bits24.bmp"));
  WriteFile(dir.File("Shared/song.wav"), "RIFF");
  WriteFile(dir.File("driftpost.container"), dir.File("Shared/song.wav") + "\r\n");
  // The settings' port cannot be served; the one on the command line is, for this run only.
  const std::string settings = "[Data]\r\nPort=no port\r\n";
  WriteFile(dir.File("driftpost.ini"), settings);
  const std::string port = testing::FreePort();
  RunningProgram program(dir.Path(), {},
                         {"--port", port, "Shared/cat.bmp", "./Shared/Trip/", dir.File("Shared/song.wav"), "Shared/cat.bmp"});
  ASSERT_TRUE(program.WaitForOutput("Server is waiting for connections")) << program.Output();
  EXPECT_TRUE(program.WaitForOutput(":" + port + "/ on the Newton\n")) << program.Output();
  testing::TRawClient client(std::stoi(port));
  client.Send("GET / HTTP/1.0\r\n\r\n");
  const std::string index = client.Read(std::string::npos, 20000);
  EXPECT_NE(index.find("cat.bmp"), std::string::npos) << index;
  EXPECT_NE(index.find("Trip"), std::string::npos) << index;
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(), 0) << program.Output();
  // Pictures, Packages, Sounds, Others; a file named twice is shared twice, as two drops would.
  EXPECT_EQ(ReadFile(dir.File("driftpost.container")),
            dir.File("Shared/cat.bmp") + "\r\n" + dir.File("Shared/cat.bmp") + "\r\n" + dir.File("Shared/song.wav") +
                "\r\n" + dir.File("Shared/song.wav") + "\r\n" + dir.File("Shared/Trip") + "\r\n");
  EXPECT_EQ(ReadFile(dir.File("driftpost.ini")).substr(0, settings.size()), settings);
}

TEST(ProgramRunTest, ASecondStartHandsItsFilesToTheRunningCopy) {
  TempDir dir;
  WriteFile(dir.File("cat.bmp"), ReadFile(DRIFTPOST_TEST_DATA "/bmp/bits24.bmp"));
  WriteFile(dir.File("song.wav"), "RIFF");
  const std::string port = testing::FreePort();
  RunningProgram program(dir.Path(), {}, {"--port", port, "cat.bmp"});
  ASSERT_TRUE(program.WaitForOutput("Server is waiting for connections")) << program.Output();
  // As "Open with" from the file manager starts it: it ends at once, and nothing is lost.
  std::string output;
  EXPECT_EQ(RunCommand("cd " + dir.Path() + " && ./driftpost song.wav", output), 0) << output;
  EXPECT_NE(output.find("Driftpost is already running"), std::string::npos) << output;
  output.clear();
  EXPECT_EQ(RunCommand("cd " + dir.Path() + " && ./driftpost", output), 0) << output;
  testing::TRawClient client(std::stoi(port));
  client.Send("GET / HTTP/1.0\r\n\r\n");
  const std::string index = client.Read(std::string::npos, 20000);
  EXPECT_NE(index.find("song.wav"), std::string::npos) << index;
  // A start that names a port of its own gets a server of its own.
  const std::string otherPort = testing::FreePort();
  RunningProgram other(dir.Path(), {}, {"--port", otherPort, "song.wav"});
  EXPECT_TRUE(other.WaitForOutput(":" + otherPort + "/ on the Newton\n")) << other.Output();
  other.Signal(SIGKILL);
  EXPECT_EQ(other.WaitForExit(), -1);
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(), 0) << program.Output();
  EXPECT_EQ(program.Output().find("Error"), std::string::npos) << program.Output();
  EXPECT_EQ(ReadFile(dir.File("driftpost.container")), dir.File("cat.bmp") + "\r\n" + dir.File("song.wav") + "\r\n");
}

TEST(ProgramRunTest, ABadCommandLineSaysSoInOneLineAndSharesNothing) {
  TempDir dir;
  WriteFile(dir.File("here.txt"), "");
  std::filesystem::copy_file(DRIFTPOST_BINARY_DIR "/driftpost", dir.File("driftpost"));
  for (const std::string arguments : {"here.txt missing.jpg", "--colour here.txt", "--port", "--port 99999 here.txt"}) {
    std::string errors;
    // Standard error only: standard output goes nowhere.
    EXPECT_EQ(RunCommand("{ cd " + dir.Path() + " && ./driftpost " + arguments + " 2>&1 >/dev/null; }", errors), 2)
        << arguments;
    EXPECT_TRUE(errors.starts_with("driftpost: ")) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("driftpost.container")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("driftpost.ini")));

  std::string output;
  EXPECT_EQ(RunCommand(dir.File("driftpost") + " --version", output), 0);
  EXPECT_EQ(output, "Driftpost V1.00 BETA\n");
  output.clear();
  EXPECT_EQ(RunCommand(dir.File("driftpost") + " --help", output), 0);
  EXPECT_NE(output.find("Usage: driftpost [--port N] [FILE|FOLDER]..."), std::string::npos) << output;
  EXPECT_NE(output.find("Share list: " + dir.File("driftpost.container")), std::string::npos) << output;
}

TEST_F(ServingProgramTest, RealClientsFollowEveryLinkOfTheIndexPage) {
  const std::vector<std::pair<std::string, std::string>> shared = {
      {"Bilder/Katze Ä.bmp", "picture"}, {"Bilder/Sonne groß.jpg", "picture"}, {"Bilder/anim ö.gif", "gif"},
      {"Töne/song ü.wav", "sound"},      {"Pakete/app.pkg", "package"},
      {"Dokumente/my notes Šö€ 日本 ä.txt", "other"},  {"Dokumente/a b/big", "other"},
      {"Dokumente/empty", "other"}};
  std::string container, manifest;
  for (const auto& [name, kind] : shared) {
    const std::string path = dir.File("shared/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (name.ends_with(".jpg")) {  // larger than the Newton's screen, so its scaled link shrinks it
      std::string output;
      ASSERT_EQ(RunCommand("/usr/bin/convert -size 400x300 gradient:gold-navy '" + path + "'", output), 0) << output;
    } else {
      WriteFile(path, name.ends_with(".bmp")                ? ReadFile(DRIFTPOST_TEST_DATA "/bmp/bits24.bmp")
                      : name.find("big") != std::string::npos ? std::string(100000, 'x')
                      : name.ends_with("empty")               ? ""
                                                              : "bytes of " + name);
    }
  container += path + "\r\n";
    manifest += (manifest.empty() ? "[[\"" : ", [\"") + path + "\", \"" + kind + "\"]";
  }
  WriteFile(dir.File("driftpost.container"), container);
  WriteFile(dir.File("manifest.json"), manifest + "]");
  Start();
  std::string output;
  EXPECT_EQ(RunCommand("python3 " DRIFTPOST_TEST_DATA "/../app/follow_links.py " + port + " " + dir.File("manifest.json"),
                       output),
            0);
  EXPECT_NE(output.find("8 files, 0 problems"), std::string::npos) << output;
}

TEST_F(ServingProgramTest, ManyClientsAtOnceAreAllAnswered) {
  Start();
  std::string output;
  EXPECT_EQ(RunCommand("ab -n 5000 -c 50 http://127.0.0.1:" + port + "/", output), 0) << output;
  EXPECT_NE(output.find("Complete requests:      5000"), std::string::npos) << output;
  EXPECT_NE(output.find("Failed requests:        0"), std::string::npos) << output;
}

TEST_F(ServingProgramTest, HostileRequestsAreCutOffOrRefused) {
  WriteFile(dir.File("private.txt"), "private");
  Start();
  for (const char* path : {"/../../etc/passwd", "/../private.txt"})
    EXPECT_EQ(Exchange("HEAD " + std::string(path) + " HTTP/1.0\r\n\r\n").substr(0, 24),
              "HTTP/1.0 404 Not Found\r\n");
  // An endless header line is cut off, while another client is served all the while.
  testing::TRawClient flood(std::stoi(port));
  flood.Send("GET / HTTP/1.0\r\nX-Endless: ");
  const std::string block(16384, 'a');
  std::size_t sent = 0;
  for (bool cutOff = false; !cutOff; sent += block.size()) {
    ASSERT_LT(sent, 64u << 20) << "still open";
    cutOff = ::send(flood.Fd(), block.data(), block.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN;
    if (sent % (256 * 1024) == 0) {
      ASSERT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n").substr(0, 15), "HTTP/1.0 200 OK");
    }
  }
}

}  // namespace
}  // namespace driftpost
