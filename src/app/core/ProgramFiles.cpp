#include "app/core/ProgramFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/core/Settings.h"
#include "platform/Exception.h"

namespace driftpost {

namespace {

constexpr const char* FolderName = "/driftpost";

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = AbsoluteVariable("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

// The XDG base folder named by `variable`, else `fallback` under the home folder; empty when
// neither is known.
std::string BaseFolder(const char* variable, const char* fallback) {
  std::string folder = AbsoluteVariable(variable);
  if (!folder.empty()) return folder;
  std::string home = HomeFolder();
  return home.empty() ? std::string() : home + fallback;
}

// Like mkdir -p; an existing folder is fine, whatever made it.
void CreateFolder(const std::string& folder) {
  std::size_t slash = 0;
  do {
    slash = folder.find('/', slash + 1);
    const std::string part = folder.substr(0, slash);
    struct stat info;
    if (::stat(part.c_str(), &info) != 0 && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
      throw EFCreateError("Cannot create the folder " + part + ": " + std::strerror(errno));
  } while (slash != std::string::npos);
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw EFCreateError("Cannot create the folder " + folder + ": a file of that name is in the way");
}

std::string FolderOf(const std::string& fileName) { return fileName.substr(0, fileName.rfind('/')); }

}  // namespace

TProgramFiles ProgramFilesFor(const std::string& executablePath, TFileLayout layout) {
  if (layout == TFileLayout::XdgFolders) {
    const std::string config = BaseFolder("XDG_CONFIG_HOME", "/.config");
    const std::string data = BaseFolder("XDG_DATA_HOME", "/.local/share");
    if (!config.empty() && !data.empty())
      return {config + FolderName + "/driftpost.ini", config + FolderName + "/driftpost.container",
              data + FolderName + "/wwwroot"};
  }
  return {IniFileNameFor(executablePath), ContainerFileNameFor(executablePath), DocumentFolderFor(executablePath)};
}

void CreateProgramFolders(const TProgramFiles& files, TFileLayout layout) {
  if (layout != TFileLayout::XdgFolders) return;
  CreateFolder(FolderOf(files.IniFileName));
  CreateFolder(FolderOf(files.ContainerFileName));
  CreateFolder(files.DocumentFolder);
}

}  // namespace driftpost
