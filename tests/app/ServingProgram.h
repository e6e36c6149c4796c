// The built program serving on a free loopback port from a folder of its own, with the
// helpers its tests share: raw exchanges, answers split into their parts, and running the
// independent tools that check what the program sends.
#pragma once

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <sys/wait.h>

#include "RunCommand.h"
#include "RunningProgram.h"
#include "TempDir.h"
#include "net/NetTestKit.h"
#include "net/WSocket.h"

namespace driftpost::testing {

// A port nobody listens on right now.
inline std::string FreePort() {
  TWSocket probe;
  probe.SetProto("tcp");
  probe.SetAddr("127.0.0.1");
  probe.SetPort("0");
  probe.Listen();
  std::string port = probe.BoundPort();
  probe.Close();
  return port;
}

// An HTTP answer taken apart: the status line, the header fields by name, the body.
struct THttpAnswer {
  std::string StatusLine;
  std::map<std::string, std::string> Fields;
  std::string Body;
  bool Complete = false;  // a header ending in an empty line was there

  explicit THttpAnswer(const std::string& raw) {
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return;
    Complete = true;
    Body = raw.substr(end + 4);
    std::size_t at = raw.find("\r\n");
    StatusLine = raw.substr(0, at);
    while (at < end) {
      const std::size_t next = raw.find("\r\n", at + 2);
      const std::string line = raw.substr(at + 2, next - at - 2);
      if (const std::size_t colon = line.find(": "); colon != std::string::npos)
        Fields[line.substr(0, colon)] = line.substr(colon + 2);
      at = next;
    }
  }
  std::string Field(const std::string& name) const {
    const auto found = Fields.find(name);
    return found == Fields.end() ? std::string() : found->second;
  }
};

class ServingProgram {
 public:
  // Picks a free port, writes the settings for it and starts the program in `folder`. When
  // the program does not come up, Started() is false and Output() says why.
  explicit ServingProgram(const std::string& folder) {
    port_ = FreePort();
    WriteFile(folder + "/driftpost.ini", "[Data]\r\nPort=" + port_ + "\r\n");
    program_ = std::make_unique<RunningProgram>(folder);
    started_ = program_->WaitForOutput("Server is waiting for connections");
  }

  bool Started() const { return started_; }
  const std::string& Port() const { return port_; }
  RunningProgram& Program() { return *program_; }
  const std::string& Output() const { return program_->Output(); }

  // Sends the request and reads until the program closes the connection.
  std::string Exchange(const std::string& request) {
    TRawClient client(std::stoi(port_));
    client.Send(request);
    return client.Read(std::string::npos, 20000);
  }
  THttpAnswer Get(const std::string& target) { return THttpAnswer(Exchange("GET " + target + " HTTP/1.0\r\n\r\n")); }

  // Ends the program as the desktop does; its exit status.
  int Stop() {
    program_->Signal(SIGTERM);
    return program_->WaitForExit();
  }

 private:
  std::string port_;
  std::unique_ptr<RunningProgram> program_;
  bool started_ = false;
};

}  // namespace driftpost::testing
