#include "app/core/WindowPlacement.h"

#include "platform/IniFile.h"

namespace driftpost {

void SaveWindowPlacement(TWindowPlacement& window, const std::string& section, const std::string& iniFileName) {
  TIniFile ini(iniFileName);
  ini.WriteInteger(section, "WS", static_cast<int>(window.State));
  window.State = TWindowState::wsNormal;
  ini.WriteInteger(section, "Top", window.Bounds.Top);
  ini.WriteInteger(section, "Left", window.Bounds.Left);
  ini.WriteInteger(section, "Height", window.Bounds.Height);
  ini.WriteInteger(section, "Width", window.Bounds.Width);
}

void RestoreWindowPlacement(TWindowPlacement& window, const std::string& section, const std::string& iniFileName) {
  TIniFile ini(iniFileName);
  TWindowGeometry bounds;
  bounds.Width = ini.ReadInteger(section, "Width", window.Bounds.Width);
  bounds.Height = ini.ReadInteger(section, "Height", window.Bounds.Height);
  bounds.Top = ini.ReadInteger(section, "Top", window.Bounds.Top);
  bounds.Left = ini.ReadInteger(section, "Left", window.Bounds.Left);
  window.Bounds = bounds;
  switch (ini.ReadInteger(section, "WS", 0)) {
    case 0: window.State = TWindowState::wsNormal; break;
    case 1: window.State = TWindowState::wsMinimized; break;
    case 2: window.State = TWindowState::wsMaximized; break;
    default: break;
  }
}

}  // namespace driftpost
