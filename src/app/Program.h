// The program's state that outlives any window: its files, the share list, the console log
// and the console's state. The windows bind to it when they are made (TDesktop); the HTTP
// server, once there, is started through the console's start hook.
#pragma once

#include <memory>
#include <string>

#include "app/core/Settings.h"
#include "app/core/WebServerController.h"
#include "container/ItemStore.h"
#include "platform/ConsoleLog.h"

namespace driftpost {

constexpr const char* ApplicationTitle = "Driftpost";

class TProgram {
 public:
  explicit TProgram(std::string executablePath);

  // Creates the empty item store; the Container window fills it from the share list file.
  void CreateStore();

  const std::string& IniFileName() const { return iniFileName_; }
  const std::string& ContainerFileName() const { return containerFileName_; }
  const std::string& DocumentFolder() const { return documentFolder_; }
  TItemStore& Store() { return *store_; }
  TConsoleLog& Log() { return log_; }
  TWebServerController& Console() { return console_; }

 private:
  std::string iniFileName_;
  std::string containerFileName_;
  std::string documentFolder_;
  std::unique_ptr<TItemStore> store_;
  TConsoleLog log_;
  TWebServerController console_;
};

}  // namespace driftpost
