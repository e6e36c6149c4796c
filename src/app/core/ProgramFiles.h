// Where a copy of the program keeps its files: the settings, the share list and the folder of
// documents the HTTP engine serves. A copy in its build tree, or one carried around in a
// folder of its own, keeps them beside its executable; an installed copy, whose executable
// lies in a folder its users cannot write, keeps them in each user's XDG folders.
#pragma once

#include <string>

namespace driftpost {

enum class TFileLayout {
  BesideExecutable,  // driftpost.ini, driftpost.container and wwwroot beside the executable
  XdgFolders,        // $XDG_CONFIG_HOME/driftpost/driftpost.{ini,container}, $XDG_DATA_HOME/driftpost/wwwroot
};

struct TProgramFiles {
  std::string IniFileName;
  std::string ContainerFileName;
  std::string DocumentFolder;
};

// The files of the copy at `executablePath`. The XDG folders follow the environment:
// $XDG_CONFIG_HOME (else ~/.config) and $XDG_DATA_HOME (else ~/.local/share); a value that is
// not an absolute path is ignored. Without a home folder to fall back on, the files stay
// beside the executable.
TProgramFiles ProgramFilesFor(const std::string& executablePath, TFileLayout layout);

// Creates the folders of the XDG layout that are missing, readable by their owner only (the
// folders beside an executable are there already). Raises EFCreateError naming the folder
// that could not be made.
void CreateProgramFolders(const TProgramFiles& files, TFileLayout layout);

}  // namespace driftpost
