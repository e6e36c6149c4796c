#include "container/gui/WidgetPlacement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#include "container/gui/ErrorBox.h"

namespace driftpost {

namespace {

// Qt's own limit for a widget's size. Keeping positions within it as well means that no sum
// of a position and a size can overflow.
constexpr int MaxExtent = QWIDGETSIZE_MAX;

int Clamped(int value, int low) { return std::clamp(value, low, MaxExtent); }

constexpr Qt::WindowStates NotNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

// Time the window manager is given to frame a window it has just been asked to show.
constexpr int FramingMilliseconds = 300;

TWindowGeometry GeometryOf(const QRect& rect) { return {rect.x(), rect.y(), rect.width(), rect.height()}; }

const QScreen* ScreenOf(const QWidget& window) {
  if (const QScreen* screen = QGuiApplication::screenAt(window.geometry().center())) return screen;
  return QGuiApplication::primaryScreen();
}

}  // namespace

TWindowPlacement PlacementOf(const QWidget& window) {
  TWindowPlacement placement;
  const Qt::WindowStates states = window.windowState();
  if (states & Qt::WindowMinimized)
    placement.State = TWindowState::wsMinimized;
  else if (states & Qt::WindowMaximized)
    placement.State = TWindowState::wsMaximized;
  QRect bounds = window.geometry();
  if (states & NotNormal) {
    QRect normal = window.normalGeometry();
    if (!normal.isEmpty()) bounds = normal;
  }
  placement.Bounds = {bounds.x(), bounds.y(), bounds.width(), bounds.height()};
  return placement;
}

void ApplyPlacement(QWidget& window, const TWindowPlacement& placement) {
  window.setWindowState(window.windowState() & ~NotNormal);
  const TWindowGeometry& b = placement.Bounds;
  window.setGeometry(QRect(Clamped(b.Left, -MaxExtent), Clamped(b.Top, -MaxExtent), Clamped(b.Width, 0),
                           Clamped(b.Height, 0)));
  switch (placement.State) {
    case TWindowState::wsNormal: break;
    case TWindowState::wsMinimized: window.setWindowState(window.windowState() | Qt::WindowMinimized); break;
    case TWindowState::wsMaximized: window.setWindowState(window.windowState() | Qt::WindowMaximized); break;
  }
}

void SaveWidgetPlacement(QWidget& window, const std::string& section, const std::string& iniFileName) {
  TWindowPlacement placement = PlacementOf(window);
  SaveWindowPlacement(placement, section, iniFileName);
  ApplyPlacement(window, placement);
}

void RestoreWidgetPlacement(QWidget& window, const std::string& section, const std::string& iniFileName) {
  TWindowPlacement placement = PlacementOf(window);
  RestoreWindowPlacement(placement, section, iniFileName);
  ApplyPlacement(window, placement);
}

void KeepOnScreen(QWidget& window) {
  // Without a screen there is only the platform's made-up one, and the placement saved for
  // the desktop must not follow it.
  if (RunningWithoutScreen() || !window.isWindow() || (window.windowState() & NotNormal)) return;
  const QScreen* screen = ScreenOf(window);
  if (!screen) return;
  const QRect inner = window.geometry();
  const QRect outer = window.frameGeometry();
  const TFrameMargins frame{inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                            outer.bottom() - inner.bottom()};
  const TWindowGeometry fitted = FitIntoArea(GeometryOf(inner), frame, GeometryOf(screen->availableGeometry()));
  if (fitted != GeometryOf(inner)) window.setGeometry(fitted.Left, fitted.Top, fitted.Width, fitted.Height);
}

void KeepOnScreenWhenShown(QWidget& window) {
  KeepOnScreen(window);
  QTimer::singleShot(FramingMilliseconds, &window, [&window] {
    if (window.isVisible()) KeepOnScreen(window);
  });
}

}  // namespace driftpost
