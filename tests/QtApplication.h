// The one QApplication of a GUI test program, made on first use. Without a display the
// tests run on Qt's offscreen platform (CTest sets it for every test); under xvfb-run they
// get the real X11 one.
#pragma once

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>

namespace driftpost::testing {

inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "driftpost-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    const char* display = std::getenv("DISPLAY");
    if (!std::getenv("QT_QPA_PLATFORM") && !(display && *display)) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Lives until the process ends: widgets of a failed test may still refer to it.
    auto* made = new QApplication(argc, argv);
    // As in the program: a display name would be added to every window title.
    QApplication::setApplicationName(QStringLiteral("Driftpost"));
    QApplication::setQuitOnLastWindowClosed(false);
    return made;
  }();
  return *application;
}

// Lets Qt deliver what is pending, as the loop would between two user actions.
inline void ProcessEvents() {
  TestApplication();
  QApplication::processEvents();
  QApplication::sendPostedEvents();
  QApplication::processEvents();
}

// The error box on screen whose text holds `text`, or nullptr.
inline QMessageBox* ErrorBoxShowing(const QString& text) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(window);
    if (box && box->isVisible() && box->text().contains(text)) return box;
  }
  return nullptr;
}

}  // namespace driftpost::testing
