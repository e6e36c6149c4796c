#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>

#include "RunningProgram.h"
#include "TempDir.h"
#include "net/NetTestKit.h"
#include "net/WSocket.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::RunningProgram;
using testing::TempDir;
using testing::WriteFile;

// Runs a command; its exit status, with what it printed in `output`.
int RunCommand(const std::string& command, std::string& output) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  int status = pipe ? ::pclose(pipe) : -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program serving on a free loopback port, in a folder of its own.
class ServingProgramTest : public ::testing::Test {
 protected:
  void Start() {
    TWSocket probe;
    probe.SetProto("tcp");
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    port = probe.BoundPort();
    probe.Close();
    WriteFile(dir.File("driftpost.ini"), "[Data]\r\nPort=" + port + "\r\n");
    program = std::make_unique<RunningProgram>(dir.Path());
    ASSERT_TRUE(program->WaitForOutput("Server is waiting for connections")) << program->Output();
  }
  std::string Exchange(const std::string& request) {
    testing::TRawClient client(std::stoi(port));
    client.Send(request);
    return client.Read(std::string::npos, 10000);
  }
  void TearDown() override {
    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitForExit(), 0) << program->Output();
  }

  TempDir dir;
  std::string port;
  std::unique_ptr<RunningProgram> program;
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

TEST_F(ServingProgramTest, RealClientsFollowEveryLinkOfTheIndexPage) {
  const std::vector<std::pair<std::string, std::string>> shared = {
      {"Bilder/Katze Ä.bmp", "picture"}, {"Bilder/anim ö.gif", "gif"}, {"Töne/song ü.wav", "sound"},
      {"Pakete/app.pkg", "package"},     {"Dokumente/my notes Šö€ 日本 ä.txt", "other"},
      {"Dokumente/a b/big", "other"},   {"Dokumente/empty", "other"}};
  std::string container, manifest;
  for (const auto& [name, kind] : shared) {
    const std::string path = dir.File("shared/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, name.find("big") != std::string::npos ? std::string(100000, 'x')
                    : name.find("empty") != std::string::npos ? "" : "bytes of " + name);
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
  EXPECT_NE(output.find("7 files, 0 problems"), std::string::npos) << output;
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
