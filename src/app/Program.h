// The program's state that outlives any window: its files, the settings read at start-up,
// the share list and the console log. The windows bind to it; without a display it runs on
// its own.
#pragma once

#include <memory>
#include <string>

#include "app/core/Settings.h"
#include "container/ItemStore.h"
#include "platform/ConsoleLog.h"

namespace driftpost {

constexpr const char* ApplicationTitle = "Driftpost";
constexpr const char* BannerLine = "Driftpost V1.00 BETA - sharing files with the Apple Newton";

class TProgram {
 public:
  explicit TProgram(std::string executablePath);

  // Creates the item store and fills it from the share list file, when there is one.
  void CreateStore();
  // Reads the settings, clears the log and writes the banner.
  void InitConsole();
  // Saves the share list. Returns false, after telling standard error, when it failed.
  bool SaveShares();

  const std::string& IniFileName() const { return iniFileName_; }
  const std::string& ContainerFileName() const { return containerFileName_; }
  const std::string& DocumentFolder() const { return documentFolder_; }
  const TServerSettings& Settings() const { return settings_; }
  TItemStore& Store() { return *store_; }
  TConsoleLog& Log() { return log_; }

 private:
  std::string iniFileName_;
  std::string containerFileName_;
  std::string documentFolder_;
  TServerSettings settings_;
  std::unique_ptr<TItemStore> store_;
  TConsoleLog log_;
};

}  // namespace driftpost
