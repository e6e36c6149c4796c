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

#include <memory>

#include "QtApplication.h"
#include "TempDir.h"
#include "app/Desktop.h"
#include "app/Program.h"
#include "app/TrayIcon.h"
#include "container/gui/ContainerUnit.h"
#include "container/gui/ImageListIcons.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"

namespace driftpost {
namespace {

using testing::ProcessEvents;
using testing::ReadFile;
using testing::TempDir;
using testing::TestApplication;
using testing::WriteFile;

QStringList Captions(const QMenu& menu) {
  QStringList captions;
  for (const QAction* action : menu.actions())
    captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
  return captions;
}

QMessageBox* ErrorBoxShowing(const QString& text) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(window);
    if (box && box->isVisible() && box->text().contains(text)) return box;
  }
  return nullptr;
}

class ServerUnitTest : public ::testing::Test {
 protected:
  ServerUnitTest() {
    TestApplication();
    program.Log().SetEcho(nullptr);
    program.CreateStore();
  }

  void Start() {
    desktop = std::make_unique<TDesktop>(program);
    desktop->ShowMainWindow();
    ProcessEvents();
  }
  TWebServer& Console() { return desktop->Console(); }
  TContainer& Container() { return desktop->Container(); }
  QString Memo() { return Console().DisplayMemo->toPlainText(); }

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

  EXPECT_EQ(Console().windowTitle(), "Driftpost");
  EXPECT_EQ(Console().objectName(), "WebServer");
  EXPECT_EQ(Console().geometry(), QRect(354, 447, 357, 286));
  EXPECT_EQ(Console().PortEdit->text(), "80");
  EXPECT_EQ(Console().ClientCountLabel->text(), "0");
  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine));
  EXPECT_EQ(Console().ToolPanel->height(), 57);
  for (QWidget* hidden : std::initializer_list<QWidget*>{Console().StartButton, Console().StopButton,
                                                         Console().ClearButton, Console().DisplayHeader})
    EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
  EXPECT_EQ(Console().ClearButton->text(), "&Clear");
  EXPECT_EQ(Console().DisplayHeader->text(), "Display Header");

  const QPlainTextEdit& memo = *Console().DisplayMemo;
  EXPECT_EQ(memo.lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(memo.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  // Fixed pitch: a narrow and a wide letter take the same room.
  const QFontMetrics metrics(memo.font());
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

  QMessageBox* box = ErrorBoxShowing(QStringLiteral("Error 10048 in function Bind"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_TRUE(box->text().contains(QStringLiteral("Address already in use")));
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

TEST_F(ServerUnitTest, ServerEventsShowInTheConsole) {
  Start();
  Console().HttpServer1ServerStarted();
  EXPECT_FALSE(Console().PortEdit->isEnabled());
  EXPECT_FALSE(Console().StartButton->isEnabled());
  EXPECT_TRUE(Console().StopButton->isEnabled());
  EXPECT_EQ(Memo(), QString::fromLatin1(BannerLine) + "\nServer is waiting for connections");

  Console().HttpServer1ClientConnect(1);
  Console().HttpServer1ClientConnect(2);
  EXPECT_EQ(Console().ClientCountLabel->text(), "2");
  Console().HttpServer1ClientDisconnect(2);
  EXPECT_EQ(Console().ClientCountLabel->text(), "1");

  Console().HttpServer1ServerStopped();
  EXPECT_TRUE(Console().PortEdit->isEnabled());
  EXPECT_TRUE(Memo().endsWith("\nServer stopped"));
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

  // A cleared log clears the view; a line with a line break stays one line.
  program.Log().Clear();
  program.Log().LogLine("one\r\ntwo");
  EXPECT_EQ(Memo(), "one  two");
}

TEST_F(ServerUnitTest, MenusListTheirItemsInOrder) {
  Start();
  QMenu& tray = *Console().PopupMenu;
  EXPECT_EQ(Captions(tray), (QStringList{"Console", "Container", "-", "Start Server", "-", "Exit"}));
  EXPECT_EQ(tray.defaultAction(), Console().acShowContainer);
  EXPECT_FALSE(Console().acStartServer->isVisible());
  EXPECT_FALSE(tray.separatorsCollapsible());

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

TEST_F(ServerUnitTest, TrayIconCarriesHintBoxAndMenuAndTogglesTheContainer) {
  Start();
  TTrayIcon& tray = *Console().TrayIcon;
  EXPECT_TRUE(tray.Visible());
  EXPECT_EQ(tray.Hint(), "Driftpost");
  EXPECT_EQ(tray.PopupMenu(), Console().PopupMenu);
  EXPECT_EQ(tray.Icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32), ImageListImage(1));

  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(Container().isVisible());
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(Container().isVisible());
}

TEST_F(ServerUnitTest, ClosingEitherWindowOnlyHidesIt) {
  Start();
  Console().HttpServer1ServerStarted();
  Console().acShowConsole->trigger();
  ProcessEvents();
  const QRect consoleBounds = Console().geometry();

  EXPECT_FALSE(Console().close());
  EXPECT_FALSE(Container().close());
  ProcessEvents();
  EXPECT_FALSE(Console().isVisible());
  EXPECT_FALSE(Container().isVisible());
  // The server goes on: nothing was stopped.
  EXPECT_FALSE(Console().PortEdit->isEnabled());
  EXPECT_FALSE(Memo().contains("Server stopped"));

  Console().acShowConsole->trigger();
  Console().acShowContainer->trigger();
  ProcessEvents();
  EXPECT_TRUE(Console().isVisible());
  EXPECT_TRUE(Container().isVisible());
  EXPECT_EQ(Console().geometry(), consoleBounds);
}

TEST_F(ServerUnitTest, ExitEndsTheLoopAndTheShutDownSavesEverything) {
  Start();
  program.Store().AddItem("/home/me/cat.bmp");
  Container().showMaximized();
  ProcessEvents();
  ASSERT_TRUE(Container().isMaximized());

  QTimer::singleShot(0, Console().acExit, &QAction::trigger);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(desktop->ShutDown());

  TIniFile ini(dir.File("driftpost.ini"));
  EXPECT_EQ(ini.ReadInteger("Container", "WS", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Container", "Left", -1), 791);
  EXPECT_EQ(ini.ReadInteger("Container", "Width", -1), 348);
  // The console writes nothing back.
  EXPECT_FALSE(ini.SectionExists("WebServer"));
  EXPECT_EQ(ReadFile(dir.File("driftpost.container")), "/home/me/cat.bmp\r\n");
}

TEST_F(ServerUnitTest, ConsolePlacementComesFromTheSettingsOnce) {
  WriteFile(dir.File("driftpost.ini"), "[WebServer]\nLeft=40\nTop=50\nWidth=420\nHeight=310\n");
  Start();
  EXPECT_EQ(Console().geometry(), QRect(40, 50, 420, 310));
  Console().acShowConsoleExecute();
  ProcessEvents();
  Console().hide();
  Console().acShowConsoleExecute();
  ProcessEvents();
  EXPECT_EQ(Console().geometry(), QRect(40, 50, 420, 310));
}

}  // namespace
}  // namespace driftpost
