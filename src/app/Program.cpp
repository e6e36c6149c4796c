#include "app/Program.h"

#include "net/WSocketS.h"
#include "picture/FormatRegistry.h"
#include "platform/StringList.h"
#include "web/MyHttpConnection.h"

namespace driftpost {

TProgram::TProgram(const std::string& executablePath)
    : TProgram(executablePath, ProgramFilesFor(executablePath, TFileLayout::BesideExecutable)) {}

TProgram::TProgram(const std::string& executablePath, const TProgramFiles& files)
    : executablePath_(executablePath),
      iniFileName_(files.IniFileName),
      containerFileName_(files.ContainerFileName),
      documentFolder_(files.DocumentFolder),
      console_(log_, iniFileName_, executablePath_) {}

void TProgram::CreateStore() {
  // The store counts a file as a picture by every extension the picture formats register.
  TStringList extensions;
  FormatRegistry().ListExtensions(extensions);
  store_ = std::make_unique<TItemStore>(extensions.Items());
}

void TProgram::CreateServer() {
  webFront_ = std::make_unique<TWebFront>(log_, *store_, console_.DisplayHeader());
  httpServer1_ = std::make_unique<THttpServer>();
  THttpServer& server = *httpServer1_;
  server.SetName("HttpServer1");
  server.SetAddr("0.0.0.0");
  server.SetDocDir(documentFolder_);
  server.SetDefaultDoc("index.html");
  server.SetLingerOnOff(wsLingerOn);
  server.SetLingerTimeout(1);
  webFront_->BindTo(server);

  // The port as the socket sees it, also when the settings named it by a service name.
  server.OnServerStarted = [this](TComponent*) {
    const std::string port = httpServer1_->ListeningSocket()->BoundPort();
    console_.ServerStarted(port == "error" ? std::string() : port);
  };
  server.OnServerStopped = [this](TComponent*) { console_.ServerStopped(); };
  server.OnClientConnect = [this](TComponent*, THttpConnection*, std::uint16_t) {
    console_.ClientConnect(httpServer1_->ClientCount());
  };
  server.OnClientDisconnect = [this](TComponent*, THttpConnection*, std::uint16_t) {
    console_.ClientDisconnect(httpServer1_->ClientCount());
  };
  server.OnConnectionDropped = [this](TComponent*, THttpConnection* client, const std::string& reason) {
    log_.LogLine("Connection from " + client->PeerAddr() + ":" + client->PeerPort() + " dropped: " + reason);
  };

  console_.OnStartServer = [this](const std::string& port) {
    httpServer1_->SetPort(port);
    httpServer1_->SetClientClass(HttpConnectionClassOf<TMyHttpConnection>());
    httpServer1_->SetRequestTimeout(std::chrono::seconds(console_.RequestTimeout()));
    httpServer1_->Start();
  };
  console_.OnStopServer = [this] { httpServer1_->Stop(); };
}

}  // namespace driftpost
