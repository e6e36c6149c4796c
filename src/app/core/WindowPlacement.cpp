#include "app/core/WindowPlacement.h"

#include <algorithm>

#include "platform/IniFile.h"

namespace driftpost {

namespace {

// One direction of FitIntoArea. Bounds from the settings file may be anything, so the sums
// are taken in a wider type.
void FitAxis(int& position, int& size, int frameBefore, int frameAfter, int areaStart, int areaLength) {
  const long long room = std::max(1LL, static_cast<long long>(areaLength) - frameBefore - frameAfter);
  const long long fitted = std::clamp(static_cast<long long>(size), 0LL, room);
  const long long lowest = static_cast<long long>(areaStart) + frameBefore;
  position = static_cast<int>(std::clamp(static_cast<long long>(position), lowest, lowest + room - fitted));
  size = static_cast<int>(fitted);
}

}  // namespace

TWindowGeometry FitIntoArea(const TWindowGeometry& bounds, const TFrameMargins& frame, const TWindowGeometry& area) {
  TWindowGeometry fitted = bounds;
  FitAxis(fitted.Left, fitted.Width, frame.Left, frame.Right, area.Left, area.Width);
  FitAxis(fitted.Top, fitted.Height, frame.Top, frame.Bottom, area.Top, area.Height);
  return fitted;
}

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
