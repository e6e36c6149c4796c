// Saving and restoring a window's geometry and state in the settings file, on a plain record
// that a window binds to: the section is named after the window ("Container", "WebServer").
#pragma once

#include <string>

namespace driftpost {

enum class TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

struct TWindowGeometry {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TWindowGeometry&) const = default;
};

// What a window shows of itself: its normal (not maximized or minimized) bounds and state.
struct TWindowPlacement {
  TWindowGeometry Bounds;
  TWindowState State = TWindowState::wsNormal;
};

// The bounds used when nothing is stored.
constexpr TWindowGeometry ContainerDesignBounds{791, 109, 348, 291};
constexpr TWindowGeometry ConsoleDesignBounds{354, 447, 357, 286};

// The border a window manager draws around a window's bounds.
struct TFrameMargins {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

// The bounds moved so that the window with its frame lies wholly within `area` (the screen
// less its panels). Only a window too large for the area is made smaller, just enough to fit.
TWindowGeometry FitIntoArea(const TWindowGeometry& bounds, const TFrameMargins& frame, const TWindowGeometry& area);

// Writes "WS", returns the window to the normal state, then writes "Top", "Left", "Height",
// "Width" from its normal bounds. Raises EFCreateError when the file cannot be written.
void SaveWindowPlacement(TWindowPlacement& window, const std::string& section, const std::string& iniFileName);

// Reads "Width", "Height", "Top", "Left" (the current values as defaults) and sets the bounds
// in one step, then "WS": 0 normal, 1 minimized, 2 maximized, anything else changes nothing.
void RestoreWindowPlacement(TWindowPlacement& window, const std::string& section, const std::string& iniFileName);

}  // namespace driftpost
