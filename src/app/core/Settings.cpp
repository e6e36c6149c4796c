#include "app/core/Settings.h"

#include <climits>
#include <unistd.h>

#include "platform/IniFile.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

// The executable's name may carry a dot in a folder name (/opt/drift.post/driftpost), so
// only the last path component decides whether there is an extension to replace.
std::string WithExtension(const std::string& executablePath, const std::string& extension) {
  std::size_t slash = executablePath.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : executablePath.substr(0, slash + 1);
  std::string name = executablePath.substr(folder.size());
  return folder + StripExtension(name) + extension;
}

}  // namespace

std::string ExecutablePath() {
  char buffer[PATH_MAX + 1];
  ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return "driftpost";
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string IniFileNameFor(const std::string& executablePath) { return WithExtension(executablePath, ".ini"); }

std::string ContainerFileNameFor(const std::string& executablePath) {
  return WithExtension(executablePath, ".container");
}

std::string DocumentFolderFor(const std::string& executablePath) {
  std::size_t slash = executablePath.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : executablePath.substr(0, slash + 1);
  return folder + "wwwroot";
}

TServerSettings ReadServerSettings(const std::string& iniFileName) {
  TIniFile ini(iniFileName);
  TServerSettings settings;
  settings.Port = ini.ReadString("Data", "Port", "80");
  // Only the low eight bits count, as the switch was stored as a byte.
  settings.DisplayHeader = (ini.ReadInteger("Data", "DisplayHeader", 0) & 0xFF) != 0;
  const std::int32_t timeout = ini.ReadInteger("Data", "RequestTimeout", settings.RequestTimeout);
  if (timeout >= 0) settings.RequestTimeout = timeout;
  return settings;
}

}  // namespace driftpost
