// The console window: the log of what the server does, the port and the number of connected
// clients, the program's commands (the "Server" menu and the tray's pop-up menu) and the
// tray icon. Closing it only hides it; "Exit" ends the program.
//
// Its logic lives in TWebServerController: the window shows the controller's state and the
// console log and forwards its handlers there. It uses the controller, the log and the
// Container window, which all outlive it, and owns its widgets, actions, menus and tray icon.
#pragma once

#include <QMainWindow>

class QAction;
class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QShowEvent;

namespace driftpost {

class TContainer;
class TTrayIcon;
class TWebServerController;

constexpr const char* ConsoleCaption = "Driftpost";
constexpr const char* TrayHint = "Driftpost";

class TWebServer : public QMainWindow {
  Q_OBJECT

 public:
  // Runs FormCreate: InitOnce, which starts the server. A failure is shown in the error box
  // and the window is made all the same.
  TWebServer(TWebServerController& controller, TContainer& container);
  ~TWebServer() override;

  // The HTTP server's events. The client events take the server's ClientCount as it is
  // when they fire.
  void HttpServer1ServerStarted();
  void HttpServer1ServerStopped();
  void HttpServer1ClientConnect(int serverClientCount);
  void HttpServer1ClientDisconnect(int serverClientCount);

  void StartButtonClick();
  void StopButtonClick();
  void acShowConsoleExecute();
  void acShowContainerExecute();
  void acExitExecute();
  void TrayIconDblClick();

  QWidget* ToolPanel;
  QLabel* PortLabel;
  QLineEdit* PortEdit;
  QLabel* ClientsLabel;
  QLabel* ClientCountLabel;
  QPushButton* StartButton;
  QPushButton* StopButton;
  QPushButton* ClearButton;
  QCheckBox* DisplayHeader;
  QPlainTextEdit* DisplayMemo;

  QAction* acStartServer;
  QAction* acStopServer;
  QAction* acShowConsole;
  QAction* acShowContainer;
  QAction* acExit;
  QMenu* ServerMenu;
  // The tray icon's pop-up menu.
  QMenu* PopupMenu;
  TTrayIcon* TrayIcon;

 public:
  // Brings the log view up to date with the log. A hidden console does it when it is shown:
  // laying out a line of text for every request of a busy server costs more than the
  // request's answer.
  void RefreshLogView();

 protected:
  // FormCloseQuery: closing hides the window instead.
  void closeEvent(QCloseEvent* event) override;
  // FormShow.
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  // Runs a handler; whatever it raises is shown in the error box.
  template <typename Handler>
  void Guarded(Handler handler);
  QAction* MakeAction(const char* name, const char* caption, bool visible);
  void ShowState();
  void ShowLog();
  void ShowWholeLog();
  void ScrollToLastLine();

  TWebServerController& controller_;
  TContainer& container_;
  // Lines of the log the view shows; the view appends while it follows the log line by line.
  int shownLines_ = 0;
  // The log changed while the window was hidden, and the view does not show it yet.
  bool logViewStale_ = false;
};

}  // namespace driftpost
