#include "app/core/WebServerController.h"

#include <algorithm>

#include "app/core/Settings.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"

namespace driftpost {

TWebServerController::TWebServerController(TConsoleLog& log, std::string iniFileName)
    : log_(log), iniFileName_(std::move(iniFileName)) {}

void TWebServerController::Changed() {
  if (OnChange) OnChange();
}

void TWebServerController::InitOnce() {
  if (initialized_) return;
  // Set first: a failing server start must not make a later showing of the window try again.
  initialized_ = true;
  RestoreWindowPlacement(placement_, ConsoleSection, iniFileName_);
  TServerSettings settings = ReadServerSettings(iniFileName_);
  portText_ = settings.Port;
  displayHeader_ = settings.DisplayHeader;
  requestTimeout_ = settings.RequestTimeout;
  clientCountText_ = IntToStr(0);
  Changed();
  log_.Clear();
  log_.LogLine(BannerLine);
  StartButtonClick();
}

void TWebServerController::StartButtonClick() {
  if (OnStartServer) OnStartServer(Trim(portText_));
}

void TWebServerController::StopButtonClick() {
  if (OnStopServer) OnStopServer();
}

void TWebServerController::ServerStarted() {
  portEditEnabled_ = false;
  startButtonEnabled_ = false;
  stopButtonEnabled_ = true;
  Changed();
  log_.LogLine(ServerStartedLine);
}

void TWebServerController::ServerStopped() {
  portEditEnabled_ = true;
  startButtonEnabled_ = true;
  stopButtonEnabled_ = false;
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
