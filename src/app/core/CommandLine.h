// The program's command line: driftpost [--port N] [FILE|FOLDER]...
//
// Each FILE or FOLDER is shared as if it had been dropped on the Container window; "--port"
// serves on another port than the settings file's for this run only. The parse checks that
// every named file exists and turns relative names into full paths, so a mistake ends the
// program before it shares anything.
#pragma once

#include <string>
#include <vector>

namespace driftpost {

enum class TCommandAction { Run, ShowHelp, ShowVersion, Fail };

struct TCommandLine {
  TCommandAction Action = TCommandAction::Run;
  // Full paths, in the order given.
  std::vector<std::string> Files;
  // The port for this run; empty for the settings file's.
  std::string Port;
  // For Fail: one line that says what is wrong.
  std::string Error;
};

// Parses the arguments after the program's name. Relative names are taken from
// `currentFolder`. A name that does not exist, an unknown option or a bad port fails; so
// does a name the share list could not hold (a line break in it).
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments, const std::string& currentFolder);

// The text of --help, naming where this copy keeps its settings and share list.
std::string CommandLineHelp(const std::string& iniFileName, const std::string& containerFileName);

// The process's current folder; empty when it cannot be told.
std::string CurrentFolder();

}  // namespace driftpost
