// Where the program keeps its files and what its settings file holds. Both files live beside
// the executable and are named after it: driftpost.ini for the settings, driftpost.container
// for the share list.
#pragma once

#include <cstdint>
#include <string>

namespace driftpost {

// The full path of the running executable.
std::string ExecutablePath();

// The executable's path with its extension replaced by ".ini" / ".container".
std::string IniFileNameFor(const std::string& executablePath);
std::string ContainerFileNameFor(const std::string& executablePath);

// The folder beside the executable that the HTTP engine serves as its documents.
std::string DocumentFolderFor(const std::string& executablePath);

// The "Data" section: read once at start-up, never written.
struct TServerSettings {
  std::string Port = "80";
  bool DisplayHeader = false;
  // Seconds a client has to send its request, and to take each part of an answer; 0 means
  // no limit. A negative or unreadable value gives the default.
  int RequestTimeout = 60;
};

TServerSettings ReadServerSettings(const std::string& iniFileName);

}  // namespace driftpost
