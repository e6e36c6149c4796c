// The standard error box, in which the program shows the message of an exception that
// escaped a window's creation or destruction or a user's command, and then goes on.
#pragma once

#include <string>

class QWidget;

namespace driftpost {

// Writes the message to standard error, then shows it in a critical message box titled
// with the application's name. Where nobody can answer a box (Qt's offscreen and minimal
// platforms) it is shown without waiting, so a run without a display never hangs on it.
void ShowErrorBox(const std::string& message, QWidget* parent = nullptr);

// True where windows are not seen by anyone: dialogs must not wait for an answer there.
bool RunningWithoutScreen();

}  // namespace driftpost
