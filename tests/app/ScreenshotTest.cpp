// Shows both windows on a real X server (CTest runs this under xvfb-run) and saves a picture
// of the screen under the build folder, for a person to look at. Nothing is compared.
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <gtest/gtest.h>

#include <cstdlib>

#include "QtApplication.h"
#include "TempDir.h"
#include "app/Desktop.h"
#include "app/Program.h"
#include "app/ServerUnit.h"
#include "platform/ConsoleLog.h"

namespace driftpost {
namespace {

using testing::TempDir;
using testing::TestApplication;
using testing::WriteFile;

void LetQtWork(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
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

  EXPECT_TRUE(desktop.ShutDown());
}

}  // namespace
}  // namespace driftpost
