// The program's state that outlives any window: its files, the share list, the console log,
// the console's state, and the HTTP server with the web front that answers it. The windows
// bind to it when they are made (TDesktop); the server is started through the console's
// start hook, and its events show in the console.
#pragma once

#include <memory>
#include <string>

#include "app/core/ProgramFiles.h"
#include "app/core/Settings.h"
#include "app/core/WebServerController.h"
#include "container/ItemStore.h"
#include "http/HttpSrv.h"
#include "platform/ConsoleLog.h"
#include "web/WebFront.h"

namespace driftpost {

constexpr const char* ApplicationTitle = "Driftpost";

class TProgram {
 public:
  // The copy at `executablePath`, keeping its files beside it.
  explicit TProgram(const std::string& executablePath);
  // The copy at `executablePath`, keeping its files where `files` says.
  TProgram(const std::string& executablePath, const TProgramFiles& files);

  // Creates the empty item store; the Container window fills it from the share list file.
  void CreateStore();
  // Creates the HTTP server ("0.0.0.0", the document folder, "index.html", a short linger)
  // and the web front that answers its requests from the store, and hooks both to the
  // console: starting the console starts the server on the configured port, and the
  // server's start, stop and client events show there. Needs the store; runs before the
  // console window is made, whose creation starts the server.
  void CreateServer();

  const std::string& ExecutablePath() const { return executablePath_; }
  const std::string& IniFileName() const { return iniFileName_; }
  const std::string& ContainerFileName() const { return containerFileName_; }
  const std::string& DocumentFolder() const { return documentFolder_; }
  TItemStore& Store() { return *store_; }
  TConsoleLog& Log() { return log_; }
  TWebServerController& Console() { return console_; }
  THttpServer& HttpServer() { return *httpServer1_; }
  TWebFront& WebFront() { return *webFront_; }

 private:
  std::string executablePath_;
  std::string iniFileName_;
  std::string containerFileName_;
  std::string documentFolder_;
  std::unique_ptr<TItemStore> store_;
  TConsoleLog log_;
  TWebServerController console_;
  // Declared last: they use everything above and go first.
  std::unique_ptr<TWebFront> webFront_;
  std::unique_ptr<THttpServer> httpServer1_;
};

}  // namespace driftpost
