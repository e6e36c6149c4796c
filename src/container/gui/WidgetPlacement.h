// Binds a Qt window to the placement record of the settings file. The record holds the
// window's normal bounds (those it has when neither maximized nor minimized), measured as
// Qt's geometry of the window's client area, and its state. Saving and restoring use the same
// measure, so a window hidden and shown any number of times keeps its place and size.
#pragma once

#include <string>

#include "app/core/WindowPlacement.h"

class QWidget;

namespace driftpost {

TWindowPlacement PlacementOf(const QWidget& window);

// Returns the window to the normal state at the record's bounds, then gives it the record's
// state. Bounds from the settings file may be anything: they are clamped to what Qt can
// hold before they are used.
void ApplyPlacement(QWidget& window, const TWindowPlacement& placement);

// SaveWindowPlacement / RestoreWindowPlacement on a window: the state and the normal bounds
// go to the window's section; saving leaves the window in the normal state.
void SaveWidgetPlacement(QWidget& window, const std::string& section, const std::string& iniFileName);
void RestoreWidgetPlacement(QWidget& window, const std::string& section, const std::string& iniFileName);

// Moves a window in the normal state so that it lies wholly within the available area of its
// screen (the one under its centre, else the primary one), with its frame as far as the frame
// is known yet; only a window too large for the area is made smaller. Nothing is moved when
// the program runs without a screen.
void KeepOnScreen(QWidget& window);

// KeepOnScreen now, and once more when the window manager has framed the window just shown,
// whose frame was not known before.
void KeepOnScreenWhenShown(QWidget& window);

}  // namespace driftpost
