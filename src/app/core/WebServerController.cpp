#include "app/core/WebServerController.h"

#include <algorithm>

#include "app/core/Settings.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

// The start failed because binding a port below 1024 needs a right the process lacks.
bool LacksBindPermission(const Exception& error) { return error.Message().starts_with("Error 10013 "); }

}  // namespace

std::string BindPermissionHint(const std::string& executablePath, const std::string& iniFileName) {
  return "Ports below 1024 need a right that Driftpost lacks: run \"sudo setcap cap_net_bind_service=+ep " +
         executablePath + "\" once, or put another port (e.g. Port=8080 under [Data]) into " + iniFileName;
}

TWebServerController::TWebServerController(TConsoleLog& log, std::string iniFileName, std::string executablePath)
    : log_(log), iniFileName_(std::move(iniFileName)), executablePath_(std::move(executablePath)) {}

void TWebServerController::Changed() {
  if (OnChange) OnChange();
}

void TWebServerController::InitOnce() {
  if (initialized_) return;
  // Set first: a failing server start must not make a later showing of the window try again.
  initialized_ = true;
  RestoreWindowPlacement(placement_, ConsoleSection, iniFileName_);
  TServerSettings settings = ReadServerSettings(iniFileName_);
  portText_ = portOverride_.empty() ? settings.Port : portOverride_;
  displayHeader_ = settings.DisplayHeader;
  requestTimeout_ = settings.RequestTimeout;
  clientCountText_ = IntToStr(0);
  Changed();
  log_.Clear();
  log_.LogLine(BannerLine);
  StartButtonClick();
}

void TWebServerController::StartButtonClick() {
  if (!OnStartServer) return;
  try {
    OnStartServer(Trim(portText_));
  } catch (const Exception& error) {
    if (LacksBindPermission(error)) log_.LogLine(BindPermissionHint(executablePath_, iniFileName_));
    statusLine_ = NotServingLine;
    Changed();
    throw;
  }
}

void TWebServerController::StopButtonClick() {
  if (OnStopServer) OnStopServer();
}

void TWebServerController::ServerStarted(const std::string& listeningPort) {
  const std::vector<std::string> addressLines =
      NewtonAddressLines(ListAddresses ? ListAddresses() : std::vector<TInterfaceAddress>{},
                         listeningPort.empty() ? Trim(portText_) : listeningPort);
  portEditEnabled_ = false;
  startButtonEnabled_ = false;
  stopButtonEnabled_ = true;
  statusLine_ = addressLines.front();
  Changed();
  log_.LogLine(ServerStartedLine);
  for (const std::string& line : addressLines) log_.LogLine(line);
}

void TWebServerController::ServerStopped() {
  portEditEnabled_ = true;
  startButtonEnabled_ = true;
  stopButtonEnabled_ = false;
  statusLine_ = NotServingLine;
  Changed();
  log_.LogLine(ServerStoppedLine);
}

void TWebServerController::ClientConnect(int serverClientCount) {
  clientCountText_ = IntToStr(serverClientCount);
  Changed();
}

void TWebServerController::ClientDisconnect(int serverClientCount) {
  clientCountText_ = IntToStr(std::max(serverClientCount - 1, 0));
  Changed();
}

void TWebServerController::SetPortText(const std::string& text) {
  if (text == portText_) return;
  portText_ = text;
  Changed();
}

}  // namespace driftpost
