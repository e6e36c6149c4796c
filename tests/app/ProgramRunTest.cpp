#include <arpa/inet.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "RunningProgram.h"
#include "TempDir.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::RunningProgram;
using testing::TempDir;
using testing::WriteFile;

// A loopback port that nothing listens on at the moment.
int FreePort() {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

// A blocking client with time-outs, for talking to the program in another process.
class TClient {
 public:
  explicit TClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    timeval timeout{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TClient() { ::close(fd_); }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  // False once the peer has gone.
  bool Send(const std::string& data) {
    return connected_ && ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
  }
  // Everything until the peer closes (or ten seconds pass).
  std::string ReadAll() {
    std::string received;
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) received.append(buffer, static_cast<std::size_t>(got));
    return received;
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Exchange(int port, const std::string& request) {
  TClient client(port);
  client.Send(request);
  return client.ReadAll();
}

// Runs a command; its exit status, with its output in `output`.
int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program serving on a port of its own, started in a folder of its own.
class ServingProgramTest : public ::testing::Test {
 protected:
  void Start() {
    WriteFile(dir.File("driftpost.ini"), "[Data]\r\nPort=" + std::to_string(port) + "\r\n");
    program = std::make_unique<RunningProgram>(dir.Path());
    ASSERT_TRUE(program->WaitForOutput("Server is waiting for connections")) << program->Output();
  }
  void TearDown() override {
    if (!program) return;
    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitForExit(), 0) << program->Output();
  }

  TempDir dir;
  int port = FreePort();
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
  struct TShared {
    std::string Name, Kind, Content;
  };
  const std::vector<TShared> shared = {
      {"Bilder/Katze Ä.bmp", "picture", std::string("BM\x36\0\0\0", 6)},
      {"Bilder/anim ö.gif", "gif", std::string("GIF89a\x01\0\x01\0\0\0\0;", 14)},
      {"Töne/song ü.wav", "sound", "RIFF\x04\0\0\0WAVE"},
      {"Pakete/app.pkg", "package", std::string(3000, 'p')},
      {"Dokumente/my notes Šö€ 日本 ä.txt", "other", "notes"},
      {"Dokumente/a b/plain.txt", "other", std::string(100000, 'x')},
      {"Dokumente/empty", "other", ""},
  };
  std::string container;
  std::string manifest = "[";
  for (const TShared& file : shared) {
    const std::string path = dir.File("shared/" + file.Name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, file.Content);
    container += path + "\r\n";
    manifest += std::string(manifest.size() > 1 ? ", " : "") + "[\"" + path + "\", \"" + file.Kind + "\"]";
  }
  WriteFile(dir.File("driftpost.container"), container);
  WriteFile(dir.File("manifest.json"), manifest + "]");
  Start();

  std::string output;
  EXPECT_EQ(RunCommand("python3 " DRIFTPOST_TEST_DATA "/../app/follow_links.py " + std::to_string(port) + " " +
                    dir.File("manifest.json"),
                output),
            0)
      << output;
  EXPECT_NE(output.find("7 files, 0 problems"), std::string::npos) << output;
}

TEST_F(ServingProgramTest, ManyConcurrentClientsAreAllAnswered) {
  Start();
  std::string output;
  EXPECT_EQ(RunCommand("ab -n 5000 -c 50 -s 30 http://127.0.0.1:" + std::to_string(port) + "/", output), 0) << output;
  EXPECT_NE(output.find("Complete requests:      5000"), std::string::npos) << output;
  EXPECT_NE(output.find("Failed requests:        0"), std::string::npos) << output;
}

TEST_F(ServingProgramTest, AnEndlessHeaderLineIsCutOffWhileOthersAreServed) {
  Start();
  TClient flood(port);
  ASSERT_TRUE(flood.Send("GET / HTTP/1.0\r\nX-Endless: "));
  const std::string block(16384, 'a');
  std::size_t sent = 0;
  bool cutOff = false;
  while (!cutOff && sent < (64u << 20)) {
    cutOff = !flood.Send(block);
    sent += block.size();
    if (sent % (256 * 1024) == 0) {
      // Another client is served all the while.
      const std::string answer = Exchange(port, "GET / HTTP/1.0\r\n\r\n");
      ASSERT_EQ(answer.substr(0, 17), "HTTP/1.0 200 OK\r\n") << "after " << sent << " bytes";
    }
  }
  EXPECT_TRUE(cutOff) << "still open after " << sent << " bytes";
}

TEST_F(ServingProgramTest, NothingOutsideTheDocumentFolderIsServed) {
  std::filesystem::create_directories(dir.File("wwwroot"));
  WriteFile(dir.File("wwwroot/index.html"), "root");
  WriteFile(dir.File("private.txt"), "private");
  Start();
  EXPECT_EQ(Exchange(port, "HEAD / HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\n");
  for (const char* path : {"/../../etc/passwd", "/../private.txt", "/../driftpost.ini"}) {
    const std::string answer = Exchange(port, std::string("HEAD ") + path + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 24), "HTTP/1.0 404 Not Found\r\n") << path;
  }
  EXPECT_TRUE(program->WaitForOutput("4: HEAD /../driftpost.ini")) << program->Output();
}

}  // namespace
}  // namespace driftpost
