#include "app/core/CommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "container/SharedFiles.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

constexpr const char* ProgramName = "driftpost";

TCommandLine Failed(const std::string& error) {
  TCommandLine result;
  result.Action = TCommandAction::Fail;
  result.Error = std::string(ProgramName) + ": " + error;
  return result;
}

// A name as an error line shows it: control characters would break the line, so they show
// as '?'.
std::string Shown(const std::string& name) {
  std::string shown = name;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return "'" + shown + "'";
}

// "1" to "65535", digits only.
bool IsPortNumber(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const long number = std::strtol(text.c_str(), nullptr, 10);
  return number >= 1 && number <= 65535;
}

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    if (!segment.empty() && segment != ".") segments.push_back(std::move(segment));
    start = end + 1;
  }
  return segments;
}

std::string Joined(const std::vector<std::string>& segments, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += "/" + segments[i];
  return path.empty() ? "/" : path;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The full path a file manager would drop for `name`: no "." segments, no doubled or trailing
// slashes. A ".." is resolved through the folders it climbs out of, while the last name stays
// as given, so that a link keeps its own name and extension.
std::string FullPath(const std::string& name, const std::string& currentFolder) {
  const std::vector<std::string> segments = Segments(name[0] == '/' ? name : currentFolder + "/" + name);
  bool climbs = false;
  for (const std::string& segment : segments) climbs = climbs || segment == "..";
  if (!climbs) return Joined(segments, segments.size());
  if (segments.back() == "..") return RealPath(Joined(segments, segments.size()));
  const std::string folder = RealPath(Joined(segments, segments.size() - 1));
  return (folder == "/" ? std::string() : folder) + "/" + segments.back();
}

// Empty when the path can be shared, else what is wrong with it.
std::string Problem(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (!CanShare(path)) return "a line break in a name cannot be kept in the share list";
  return std::string();
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments, const std::string& currentFolder) {
  TCommandLine result;
  std::vector<std::string> names;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      names.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      result.Action = TCommandAction::ShowHelp;
      return result;
    } else if (argument == "--version") {
      result.Action = TCommandAction::ShowVersion;
      return result;
    } else if (argument == "--port" || argument.starts_with("--port=")) {
      const bool joined = argument.size() > 6;
      if (!joined && i + 1 >= arguments.size()) return Failed("--port needs a port number (see driftpost --help)");
      const std::string port = joined ? argument.substr(7) : arguments[++i];
      if (!IsPortNumber(port)) return Failed("--port needs a number from 1 to 65535, not " + Shown(port));
      result.Port = port;
    } else {
      return Failed("unknown option " + Shown(argument) + " (see driftpost --help)");
    }
  }
  for (const std::string& name : names) {
    if (name.empty()) return Failed("cannot share '': an empty name names no file");
    if (name[0] != '/' && currentFolder.empty())
      return Failed("cannot share " + Shown(name) + ": the current folder cannot be told; give a full path");
    const std::string path = FullPath(name, currentFolder);
    const std::string problem = Problem(path);
    if (!problem.empty()) return Failed("cannot share " + Shown(name) + ": " + problem);
    result.Files.push_back(path);
  }
  return result;
}

std::string CommandLineHelp(const std::string& iniFileName, const std::string& containerFileName) {
  return "Usage: driftpost [--port N] [FILE|FOLDER]...\n"
         "Shares files with an Apple Newton through its web browser.\n"
         "\n"
         "Each FILE or FOLDER is added to the shared items, as if it had been dropped on the\n"
         "Container window, and stays shared until it is removed there. The console log (and\n"
         "standard output) tells the address to open on the Newton.\n"
         "\n"
         "  --port N     serve on port N for this run; the settings file is not changed\n"
         "  -h, --help   show this help and exit\n"
         "  --version    show the version and exit\n"
         "\n"
         "Settings:   " + iniFileName + "\n"
         "Share list: " + containerFileName + "\n";
}

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

}  // namespace driftpost
