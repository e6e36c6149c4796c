// Shows both windows on a real X server (CTest runs this under xvfb-run) and saves a picture
// of the screen under the build folder, for a person to look at; checks what the X server
// holds of the windows: their exact titles and that they lie on the screen.
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <gtest/gtest.h>

#include <cstdlib>

#include "QtApplication.h"
#include "RunCommand.h"
#include "TempDir.h"
#include "app/Desktop.h"
#include "app/Program.h"
#include "app/ServerUnit.h"
#include "container/gui/ContainerUnit.h"
#include "platform/ConsoleLog.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::RunCommand;
using testing::TempDir;
using testing::TestApplication;
using testing::WriteFile;

void LetQtWork(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The title the X server holds for the window, as a window manager or a panel reads it.
std::string X11Title(const QWidget& window) {
  std::string output;
  RunCommand("xprop -id " + std::to_string(window.winId()) + " _NET_WM_NAME", output);
  return output;
}

TEST(ScreenshotTest, SavesAPictureOfBothWindows) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "needs an X server; CTest runs this under xvfb-run";
  TestApplication();
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");

  TempDir dir;
  WriteFile(dir.File("driftpost.container"),
            "/home/newton/Pictures/lighthouse.png\r\n/home/newton/Pictures/harbour.tif\r\n"
            "/home/newton/Packages/Pocket Crossword.pkg\r\n/home/newton/Sounds/chime.wav\r\n"
            "/home/newton/Documents/notes.txt\r\n");
  TProgram program(dir.File("driftpost"));
  program.Log().SetEcho(nullptr);
  program.Console().ListAddresses = [] { return std::vector<TInterfaceAddress>{{"192.168.1.20", false}}; };
  program.CreateStore();
  TDesktop desktop(program);
  desktop.ShowMainWindow();
  TWebServer& console = desktop.Console();
  console.HttpServer1ServerStarted();
  console.HttpServer1ClientConnect(1);
  program.Log().LogLine("1: GET /");
  program.Log().LogLine("2: GET /folder.jpeg");
  console.acShowConsole->trigger();
  LetQtWork(1500);

  const QString folder = QStringLiteral(DRIFTPOST_BINARY_DIR "/screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString file = folder + "/driftpost-windows.png";
  const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
  ASSERT_FALSE(screen.isNull());
  ASSERT_TRUE(screen.save(file, "PNG"));
  std::printf("Screenshot of both windows: %s\n", file.toLocal8Bit().constData());

  EXPECT_EQ(desktop.Container().StatusLine->text(), "Open http://192.168.1.20/ on the Newton");
  EXPECT_EQ(X11Title(desktop.Container()), "_NET_WM_NAME(UTF8_STRING) = \"Driftpost - Container\"\n");
  EXPECT_EQ(X11Title(console), "_NET_WM_NAME(UTF8_STRING) = \"Driftpost\"\n");
  EXPECT_TRUE(desktop.ShutDown());
}

// CTest runs this one on a screen of 1024 by 768 pixels, which the design bounds of the
// Container window (left 791, width 348) reach past.
TEST(ScreenFitTest, TheContainerWindowOpensWhollyOnASmallScreen) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "needs an X server; CTest runs this under xvfb-run";
  TestApplication();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

  TempDir dir;
  TProgram program(dir.File("driftpost"));
  program.Log().SetEcho(nullptr);
  program.Console().OnStartServer = nullptr;
  program.CreateStore();
  int left = 0;
  {
    TDesktop desktop(program);
    desktop.ShowMainWindow();
    LetQtWork(800);
    const QRect bounds = desktop.Container().frameGeometry();
    EXPECT_TRUE(screen.contains(bounds)) << bounds.x() << "," << bounds.y() << " " << bounds.width() << "x"
                                         << bounds.height() << " on " << screen.width() << "x" << screen.height();
    // Moved, not shrunk: there was room enough.
    EXPECT_EQ(desktop.Container().size(), QSize(348, 291));
    left = desktop.Container().geometry().x();
    EXPECT_LT(left, 791);
    EXPECT_TRUE(desktop.ShutDown());
  }
  // What is saved is where the window was, so the next start opens it there.
  const std::string settings = ReadFile(dir.File("driftpost.ini"));
  EXPECT_NE(settings.find("\r\nLeft=" + std::to_string(left) + "\r\n"), std::string::npos) << settings;
}

}  // namespace
}  // namespace driftpost
