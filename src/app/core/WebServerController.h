// What the console window shows and does, without the window: the one-time initialisation
// at start-up, the port field, the header-logging switch, the client count and which
// controls are enabled. The console window (TWebServer) only displays this state and
// forwards its handlers here, so all of it can be checked without a display.
//
// The controller uses the console log and knows nothing of the HTTP server: the program
// gives it a start hook once a server exists. It owns its placement record; the window
// applies it after InitOnce.
#pragma once

#include <functional>
#include <string>

#include "app/core/Settings.h"
#include "app/core/WindowPlacement.h"
#include "platform/ConsoleLog.h"

namespace driftpost {

constexpr const char* BannerLine = "Driftpost V1.00 BETA - sharing files with the Apple Newton";
constexpr const char* ServerStartedLine = "Server is waiting for connections";
constexpr const char* ServerStoppedLine = "Server stopped";

// The console window's component name, which is also its section in the settings file.
constexpr const char* ConsoleSection = "WebServer";

class TWebServerController {
 public:
  TWebServerController(TConsoleLog& log, std::string iniFileName);

  // Runs only once per program run; later calls do nothing, also after a failure. Restores
  // the placement, reads "Data"/"Port" and "Data"/"DisplayHeader", shows "0" clients,
  // clears the log and writes the banner, then starts the server (StartButtonClick). An
  // exception of the server start leaves this function with `Initialized` already set.
  void InitOnce();

  // Calls OnStartServer with the port field's text, blanks and control characters trimmed
  // off. Without a hook there is no server to start and nothing happens.
  void StartButtonClick();
  void StopButtonClick();

  void ServerStarted();
  void ServerStopped();
  // `serverClientCount` is the server's ClientCount when the event fires. A leaving client
  // is still counted then, so the disconnect shows one less.
  void ClientConnect(int serverClientCount);
  void ClientDisconnect(int serverClientCount);

  // What the user typed into the port field.
  void SetPortText(const std::string& text);

  bool Initialized() const { return initialized_; }
  const std::string& PortText() const { return portText_; }
  // The header-logging switch; a reference, so that the web front follows it.
  const bool& DisplayHeader() const { return displayHeader_; }
  // "Data"/"RequestTimeout" in seconds (0: no limit), read by InitOnce before the server starts.
  int RequestTimeout() const { return requestTimeout_; }
  const std::string& ClientCountText() const { return clientCountText_; }
  bool PortEditEnabled() const { return portEditEnabled_; }
  bool StartButtonEnabled() const { return startButtonEnabled_; }
  bool StopButtonEnabled() const { return stopButtonEnabled_; }
  const TWindowPlacement& Placement() const { return placement_; }
  const std::string& IniFileName() const { return iniFileName_; }
  TConsoleLog& Log() { return log_; }

  // Starts the HTTP server on the given port; raises an Exception (with the text the user
  // is shown) when it cannot. The server then reports ServerStarted.
  std::function<void(const std::string& port)> OnStartServer;
  std::function<void()> OnStopServer;
  // Fired after every change of the state above; the window redraws from it.
  std::function<void()> OnChange;

 private:
  void Changed();

  TConsoleLog& log_;
  std::string iniFileName_;
  bool initialized_ = false;
  std::string portText_;
  bool displayHeader_ = false;
  int requestTimeout_ = TServerSettings{}.RequestTimeout;
  std::string clientCountText_;
  bool portEditEnabled_ = true;
  bool startButtonEnabled_ = true;
  bool stopButtonEnabled_ = false;
  TWindowPlacement placement_{ConsoleDesignBounds, TWindowState::wsNormal};
};

}  // namespace driftpost
