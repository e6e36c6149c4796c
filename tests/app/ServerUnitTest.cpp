#include "app/ServerUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "QtApplication.h"
#include "TempDir.h"
#include "app/Desktop.h"
#include "app/MessageLoopBridge.h"
#include "app/Program.h"
#include "app/TrayIcon.h"
#include "container/ImageList.h"
#include "container/gui/ContainerUnit.h"
#include "container/gui/ImageListIcons.h"
#include "net/NetTestKit.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::ErrorBoxShowing;
using testing::ProcessEvents;
using testing::ReadFile;
using testing::TempDir;
using testing::TestApplication;
using testing::TRawClient;
using testing::WriteFile;

QStringList Captions(const QMenu& menu) {
  QStringList captions;
  for (const QAction* action : menu.actions())
    captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
  return captions;
}

class ServerUnitTest : public ::testing::Test {
 protected:
  ServerUnitTest() {
    TestApplication();
    program.Log().SetEcho(nullptr);
    program.Console().ListAddresses = [] {
      return std::vector<TInterfaceAddress>{{"127.0.0.1", true}, {"192.0.2.20", false}};
    };
    program.CreateStore();
  }

  void Start() {
    desktop = std::make_unique<TDesktop>(program);
    desktop->ShowMainWindow();
    ProcessEvents();
  }
  TWebServer& Console() { return desktop->Console(); }
  TContainer& Container() { return desktop->Container(); }
  QString Memo() {
    Console().RefreshLogView();
    return Console().DisplayMemo->toPlainText();
  }

  TempDir dir;
  TProgram program{dir.File("driftpost")};
  std::unique_ptr<TDesktop> desktop;
};

TEST_F(ServerUnitTest, StartUpShowsTheContainerAndKeepsTheConsoleHidden) {
  std::vector<std::string> ports;
  program.Console().OnStartServer = [&ports](const std::string& port) { ports.push_back(port); };
  Start();
  EXPECT_EQ(ports, std::vector<std::string>{"80"});
  EXPECT_TRUE(Container().isVisible());
  EXPECT_FALSE(Console().isVisible());
  EXPECT_EQ(Console().geometry(), QRect(354, 447, 357, 286));
  EXPECT_EQ(Console().PortEdit->text(), "80");
  EXPECT_EQ(Console().ClientCountLabel->text(), "0");
  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine));
  for (QWidget* hidden : std::initializer_list<QWidget*>{Console().StartButton, Console().StopButton,
                                                         Console().ClearButton, Console().DisplayHeader})
    EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
  // Fixed pitch: a narrow and a wide letter take the same room.
  const QFontMetrics metrics(Console().DisplayMemo->font());
  EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
}

TEST_F(ServerUnitTest, TakenPortShowsTheErrorBoxAndOnlyTheBanner) {
  int attempts = 0;
  program.Console().OnStartServer = [&attempts](const std::string&) {
    ++attempts;
    throw Exception("Error 10048 in function Bind\r\nAddress already in use");
  };
  ::testing::internal::CaptureStderr();
  Start();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Error 10048 in function Bind\r\nAddress already in use"), std::string::npos) << errors;
  QMessageBox* box = ErrorBoxShowing(QStringLiteral("Error 10048 in function Bind\nAddress already in use"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_FALSE(box->isModal());
  box->close();

  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine));
  EXPECT_TRUE(Console().PortEdit->isEnabled());
  EXPECT_TRUE(Container().isVisible());
  // Showing the console does not try again.
  Console().acShowConsole->trigger();
  ProcessEvents();
  EXPECT_TRUE(Console().isVisible());
  EXPECT_EQ(attempts, 1);
}

TEST_F(ServerUnitTest, LogViewKeepsTheLast201LinesAndShowsTheLastOne) {
  Start();
  Console().acShowConsoleExecute();
  ProcessEvents();
  for (int i = 1; i <= 500; ++i) program.Log().LogLine("line " + std::to_string(i));
  ProcessEvents();
  const QStringList lines = Memo().split('\n');
  ASSERT_EQ(lines.size(), 201);
  EXPECT_EQ(lines.first(), "line 300");
  EXPECT_EQ(lines.last(), "line 500");
  const QScrollBar* bar = Console().DisplayMemo->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  // A cleared log clears the view; a line with a line break stays one line, the break
  // shown as text.
  program.Log().Clear();
  program.Log().LogLine("one\r\ntwo");
  EXPECT_EQ(Memo(), "one\\x0D\\x0Atwo");
}

TEST_F(ServerUnitTest, HiddenConsoleCatchesUpWithTheLogWhenShown) {
  Start();
  for (int i = 1; i <= 300; ++i) program.Log().LogLine("line " + std::to_string(i));
  ProcessEvents();
  Console().acShowConsoleExecute();
  ProcessEvents();
  const QStringList lines = Console().DisplayMemo->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 201);
  EXPECT_EQ(lines.last(), "line 300");
  const QScrollBar* bar = Console().DisplayMemo->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
  // Once shown, the view follows line by line again.
  program.Log().LogLine("line 301");
  EXPECT_TRUE(Console().DisplayMemo->toPlainText().endsWith("\nline 301"));
}

TEST_F(ServerUnitTest, TrayAndServerMenusListTheirItemsInOrder) {
  Start();
  QMenu& tray = *Console().PopupMenu;
  EXPECT_EQ(Console().TrayIcon->Hint(), "Driftpost");
  EXPECT_EQ(Console().TrayIcon->PopupMenu(), &tray);
  EXPECT_EQ(Console().TrayIcon->Icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
            ImageListImage(iiBox));
  EXPECT_EQ(Captions(tray), (QStringList{"Console", "Container", "-", "Start Server", "-", "Exit"}));
  // The default item is the one Qt draws in bold.
  EXPECT_EQ(tray.defaultAction(), Console().acShowContainer);
  EXPECT_FALSE(Console().acStartServer->isVisible());
  // Both separators around the hidden item are drawn.
  tray.popup(QPoint(10, 10));
  ProcessEvents();
  const QList<QAction*> actions = tray.actions();
  EXPECT_GT(tray.actionGeometry(actions[2]).height(), 0);
  EXPECT_GT(tray.actionGeometry(actions[4]).height(), 0);
  EXPECT_TRUE(tray.actionGeometry(actions[3]).isEmpty());
  tray.close();

  EXPECT_EQ(Console().ServerMenu->title(), "Server");
  EXPECT_EQ(Captions(*Console().ServerMenu),
            (QStringList{"Container", "-", "Start Server", "Stop Server", "-", "Exit"}));
  EXPECT_FALSE(Console().acStopServer->isVisible());
}

TEST_F(ServerUnitTest, ClosingEitherWindowOnlyHidesItWhileTheServerGoesOn) {
  Start();
  Console().HttpServer1ServerStarted();
  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine) +
                        "\nServer is waiting for connections\nOpen http://192.0.2.20/ on the Newton");
  EXPECT_EQ(Container().StatusLine->text(), "Open http://192.0.2.20/ on the Newton");
  Console().HttpServer1ClientConnect(1);
  Console().HttpServer1ClientConnect(2);
  EXPECT_EQ(Console().ClientCountLabel->text(), "2");
  Console().acShowConsole->trigger();
  ProcessEvents();
  const QRect consoleBounds = Console().geometry();

  EXPECT_FALSE(Console().close());
  EXPECT_FALSE(Container().close());
  EXPECT_FALSE(Console().isVisible() || Container().isVisible());
  Console().HttpServer1ClientDisconnect(2);
  EXPECT_EQ(Console().ClientCountLabel->text(), "1");
  EXPECT_FALSE(Console().PortEdit->isEnabled());

  Console().acShowConsole->trigger();
  emit Console().TrayIcon->SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  ProcessEvents();
  EXPECT_TRUE(Console().isVisible() && Container().isVisible());
  EXPECT_EQ(Console().geometry(), consoleBounds);
  emit Console().TrayIcon->SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(Container().isVisible());
}

TEST_F(ServerUnitTest, ExitEndsTheLoopAndTheShutDownSavesEverything) {
  const std::string console = "[WebServer]\r\nLeft=40\r\nTop=50\r\nWidth=420\r\nHeight=310\r\n";
  WriteFile(dir.File("driftpost.ini"), console);
  Start();
  EXPECT_EQ(Console().geometry(), QRect(40, 50, 420, 310));
  program.Store().AddItem("/home/me/cat.bmp");
  Container().showMaximized();
  ProcessEvents();
  ASSERT_TRUE(Container().isMaximized());

  QTimer::singleShot(0, Console().acExit, &QAction::trigger);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(desktop->ShutDown());
  // The console writes nothing back; the Container window ends normal at its design bounds.
  EXPECT_EQ(ReadFile(dir.File("driftpost.ini")),
            console + "\r\n[Container]\r\nWS=0\r\nTop=109\r\nLeft=791\r\nHeight=291\r\nWidth=348\r\n");
  EXPECT_EQ(ReadFile(dir.File("driftpost.container")), "/home/me/cat.bmp\r\n");
}

// The console with the program's real HTTP server, driven by Qt's loop as in the program.
class ServerUnitWithServerTest : public ServerUnitTest {
 protected:
  void StartOnPort(const std::string& port) {
    WriteFile(dir.File("driftpost.ini"), "[Data]\r\nPort= " + port + " \r\n");
    program.CreateServer();
    Start();
  }
  int Port() { return std::stoi(program.HttpServer().ListeningSocket()->BoundPort()); }
  bool ClientCountShows(const char* count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Console().ClientCountLabel->text() != count && std::chrono::steady_clock::now() < deadline) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Console().ClientCountLabel->text() == count;
  }

  TMessageLoopBridge bridge{TMessageLoop::Current()};
};

TEST_F(ServerUnitWithServerTest, TheClientCountFollowsTheRealServer) {
  StartOnPort("0");
  // The address names the port the server got, not the "0" that asked for any.
  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine) + "\nServer is waiting for connections\nOpen http://192.0.2.20:" +
                        QString::number(Port()) + "/ on the Newton");
  EXPECT_FALSE(Console().PortEdit->isEnabled());
  TRawClient first(Port());
  TRawClient second(Port());
  EXPECT_TRUE(ClientCountShows("2"));
  first.Close();
  EXPECT_TRUE(ClientCountShows("1"));
}

TEST_F(ServerUnitWithServerTest, ATakenPortShowsTheErrorBoxAndOnlyTheBanner) {
  TWSocket blocker;
  blocker.SetProto("tcp");
  blocker.SetAddr("0.0.0.0");
  blocker.SetPort("0");
  blocker.Listen();
  ::testing::internal::CaptureStderr();
  StartOnPort(blocker.BoundPort());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Error 10048 in function Bind\r\n"), std::string::npos);
  QMessageBox* box = ErrorBoxShowing(QStringLiteral("Error 10048 in function Bind\nAddress already in use"));
  ASSERT_NE(box, nullptr);
  box->close();
  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine));
  EXPECT_TRUE(Console().PortEdit->isEnabled());
  EXPECT_EQ(Container().StatusLine->text(), QString::fromLatin1(NotServingLine));
}

TEST_F(ServerUnitWithServerTest, ClosingEitherWindowKeepsTheServerServing) {
  StartOnPort("0");
  Console().acShowConsole->trigger();
  ProcessEvents();
  EXPECT_FALSE(Console().close() || Container().close());
  ASSERT_FALSE(Console().isVisible() || Container().isVisible());
  TRawClient client(Port());
  client.Send("GET / HTTP/1.0\r\n\r\n");
  EXPECT_NE(client.Read(std::string::npos).find("<H4>Welcome!</H4>"), std::string::npos);
  EXPECT_TRUE(Memo().endsWith("\n1: GET /"));
}

}  // namespace
}  // namespace driftpost
