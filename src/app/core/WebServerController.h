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
#include <vector>

#include "app/core/NewtonAddress.h"
#include "app/core/Settings.h"
#include "app/core/WindowPlacement.h"
#include "platform/ConsoleLog.h"

namespace driftpost {

constexpr const char* BannerLine = "Driftpost V1.00 BETA - sharing files with the Apple Newton";
constexpr const char* ServerStartedLine = "Server is waiting for connections";
constexpr const char* ServerStoppedLine = "Server stopped";
constexpr const char* ProductVersion = "Driftpost V1.00 BETA";
// What the Container window's status line says while nothing is served.
constexpr const char* NotServingLine = "The server is not running; the console says why.";

// The log line after a failed start for want of the right to bind a port below 1024: how to
// give the program that right, or where to choose another port.
std::string BindPermissionHint(const std::string& executablePath, const std::string& iniFileName);

// The console window's component name, which is also its section in the settings file.
constexpr const char* ConsoleSection = "WebServer";

class TWebServerController {
 public:
  // `executablePath` is named in the hint after a failed start (see BindPermissionHint).
  TWebServerController(TConsoleLog& log, std::string iniFileName, std::string executablePath = {});

  // Serve on this port instead of the settings file's, which stays as it is.
  void OverridePort(const std::string& port) { portOverride_ = port; }

  // Runs only once per program run; later calls do nothing, also after a failure. Restores
  // the placement, reads "Data"/"Port" and "Data"/"DisplayHeader", shows "0" clients,
  // clears the log and writes the banner, then starts the server (StartButtonClick). An
  // exception of the server start leaves this function with `Initialized` already set.
  void InitOnce();

  // Calls OnStartServer with the port field's text, blanks and control characters trimmed
  // off. Without a hook there is no server to start and nothing happens. When the start
  // fails for want of the right to bind the port, the log says what to do about it.
  void StartButtonClick();
  void StopButtonClick();

  // Logs that the server listens and, for each address of the machine, where the Newton
  // finds it; the first becomes the status line. `listeningPort` is the port the server
  // listens on; empty for the port field's text.
  void ServerStarted(const std::string& listeningPort = {});
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
  // Where the Newton finds the server, or why it does not; empty before the first start.
  const std::string& StatusLine() const { return statusLine_; }
  const std::string& IniFileName() const { return iniFileName_; }
  TConsoleLog& Log() { return log_; }

  // Starts the HTTP server on the given port; raises an Exception (with the text the user
  // is shown) when it cannot. The server then reports ServerStarted.
  std::function<void(const std::string& port)> OnStartServer;
  std::function<void()> OnStopServer;
  // Fired after every change of the state above; the window redraws from it.
  std::function<void()> OnChange;
  // The machine's addresses, asked each time the server starts.
  std::function<std::vector<TInterfaceAddress>()> ListAddresses = LocalIPv4Addresses;

 private:
  void Changed();

  TConsoleLog& log_;
  std::string iniFileName_;
  std::string executablePath_;
  std::string portOverride_;
  std::string statusLine_;
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
