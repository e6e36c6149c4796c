#include "app/ServerUnit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include <exception>

#include "app/TrayIcon.h"
#include "app/core/WebServerController.h"
#include "container/ImageList.h"
#include "container/gui/ContainerUnit.h"
#include "container/gui/ErrorBox.h"
#include "container/gui/ImageListIcons.h"
#include "container/gui/WidgetPlacement.h"

namespace driftpost {

namespace {

QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// One log line is one line of the view, whatever the line holds.
QString ViewLine(const std::string& line) {
  QString text = FromBytes(line);
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

QFont LogFont() {
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (!QFontDatabase::hasFamily(QStringLiteral("Courier New"))) return fixed;
  QFont courier(QStringLiteral("Courier New"));
  courier.setPointSizeF(fixed.pointSizeF());
  courier.setStyleHint(QFont::TypeWriter);
  return courier;
}

void ShowAndRaise(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

template <typename Handler>
void TWebServer::Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    // The console is usually hidden; the box stands on its own.
    ShowErrorBox(error.what(), isVisible() ? this : nullptr);
  }
}

TWebServer::TWebServer(TWebServerController& controller, TContainer& container)
    : controller_(controller), container_(container) {
  setObjectName(ConsoleSection);
  setWindowTitle(ConsoleCaption);
  setWindowIcon(ImageListIcon(iiBox));

  acStartServer = MakeAction("acStartServer", "Start Server", false);
  acStopServer = MakeAction("acStopServer", "Stop Server", false);
  acShowConsole = MakeAction("acShowConsole", "Console", true);
  acShowContainer = MakeAction("acShowContainer", "Container", true);
  acExit = MakeAction("acExit", "Exit", true);
  connect(acShowConsole, &QAction::triggered, this, [this] { acShowConsoleExecute(); });
  connect(acShowContainer, &QAction::triggered, this, [this] { acShowContainerExecute(); });
  connect(acExit, &QAction::triggered, this, [this] { acExitExecute(); });

  // A hidden item keeps both separators around it, as the menus have always looked.
  ServerMenu = menuBar()->addMenu(QStringLiteral("Server"));
  ServerMenu->setObjectName(QStringLiteral("ServerMenu"));
  ServerMenu->setSeparatorsCollapsible(false);
  ServerMenu->addAction(acShowContainer);
  ServerMenu->addSeparator();
  ServerMenu->addAction(acStartServer);
  ServerMenu->addAction(acStopServer);
  ServerMenu->addSeparator();
  ServerMenu->addAction(acExit);

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  PopupMenu->setSeparatorsCollapsible(false);
  PopupMenu->addAction(acShowConsole);
  PopupMenu->addAction(acShowContainer);
  PopupMenu->addSeparator();
  PopupMenu->addAction(acStartServer);
  PopupMenu->addSeparator();
  PopupMenu->addAction(acExit);
  PopupMenu->setDefaultAction(acShowContainer);

  ToolPanel = new QWidget;
  ToolPanel->setObjectName(QStringLiteral("ToolPanel"));
  ToolPanel->setFixedHeight(57);
  PortLabel = new QLabel(QStringLiteral("Port"));
  PortEdit = new QLineEdit;
  PortEdit->setObjectName(QStringLiteral("PortEdit"));
  PortEdit->setFixedWidth(60);
  ClientsLabel = new QLabel(QStringLiteral("Clients"));
  ClientCountLabel = new QLabel;
  ClientCountLabel->setObjectName(QStringLiteral("ClientCountLabel"));
  ClientCountLabel->setMinimumWidth(30);
  StartButton = new QPushButton(acStartServer->text());
  StartButton->setObjectName(QStringLiteral("StartButton"));
  StopButton = new QPushButton(acStopServer->text());
  StopButton->setObjectName(QStringLiteral("StopButton"));
  ClearButton = new QPushButton(QStringLiteral("&Clear"));
  ClearButton->setObjectName(QStringLiteral("ClearButton"));
  DisplayHeader = new QCheckBox(QStringLiteral("Display Header"));
  DisplayHeader->setObjectName(QStringLiteral("DisplayHeader"));
  // The buttons follow their actions, which are hidden; the others are hidden by design.
  StartButton->setVisible(acStartServer->isVisible());
  StopButton->setVisible(acStopServer->isVisible());
  ClearButton->setVisible(false);
  DisplayHeader->setVisible(false);
  auto* tools = new QHBoxLayout(ToolPanel);
  for (QWidget* control : std::initializer_list<QWidget*>{PortLabel, PortEdit, ClientsLabel, ClientCountLabel,
                                                          StartButton, StopButton, ClearButton, DisplayHeader})
    tools->addWidget(control);
  tools->addStretch();

  connect(StartButton, &QPushButton::clicked, this, [this] { StartButtonClick(); });
  connect(StopButton, &QPushButton::clicked, this, [this] { StopButtonClick(); });
  connect(ClearButton, &QPushButton::clicked, this, [this] { controller_.Log().Clear(); });
  connect(PortEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
    const QByteArray bytes = text.toUtf8();
    controller_.SetPortText(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  });

  DisplayMemo = new QPlainTextEdit;
  DisplayMemo->setObjectName(QStringLiteral("DisplayMemo"));
  DisplayMemo->setReadOnly(true);
  DisplayMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  DisplayMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DisplayMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DisplayMemo->setFont(LogFont());
  DisplayMemo->setMaximumBlockCount(TConsoleLog::MaxLines);

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ToolPanel);
  layout->addWidget(DisplayMemo);
  setCentralWidget(central);

  const TWindowGeometry& bounds = ConsoleDesignBounds;
  setGeometry(bounds.Left, bounds.Top, bounds.Width, bounds.Height);

  controller_.OnChange = [this] { ShowState(); };
  controller_.Log().OnChange = [this] { ShowLog(); };
  ShowState();
  ShowLog();

  TrayIcon = new TTrayIcon(this);
  TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
  TrayIcon->SetHint(TrayHint);
  TrayIcon->SetImageList(&TImageList::Instance());
  TrayIcon->SetImageIndex(iiBox);
  TrayIcon->SetPopupMenu(PopupMenu);
  TrayIcon->OnDblClick = [this] { TrayIconDblClick(); };
  TrayIcon->SetVisible(true);

  FormCreate();
}

TWebServer::~TWebServer() {
  controller_.OnChange = nullptr;
  controller_.Log().OnChange = nullptr;
  // The icon leaves the tray before the window's parts go.
  delete TrayIcon;
}

QAction* TWebServer::MakeAction(const char* name, const char* caption, bool visible) {
  auto* action = new QAction(QString::fromLatin1(caption), this);
  action->setObjectName(QString::fromLatin1(name));
  action->setVisible(visible);
  return action;
}

void TWebServer::FormCreate() {
  Guarded([this] { controller_.InitOnce(); });
  // The placement was restored before the server start, also when that start failed.
  ApplyPlacement(*this, controller_.Placement());
}

void TWebServer::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  RefreshLogView();
  ScrollToLastLine();
  if (event->spontaneous()) return;
  Guarded([this] { controller_.InitOnce(); });
  KeepOnScreenWhenShown(*this);
}

void TWebServer::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}

void TWebServer::StartButtonClick() {
  Guarded([this] { controller_.StartButtonClick(); });
}

void TWebServer::StopButtonClick() {
  Guarded([this] { controller_.StopButtonClick(); });
}

void TWebServer::HttpServer1ServerStarted() { controller_.ServerStarted(); }

void TWebServer::HttpServer1ServerStopped() { controller_.ServerStopped(); }

void TWebServer::HttpServer1ClientConnect(int serverClientCount) { controller_.ClientConnect(serverClientCount); }

void TWebServer::HttpServer1ClientDisconnect(int serverClientCount) {
  controller_.ClientDisconnect(serverClientCount);
}

void TWebServer::acShowConsoleExecute() { ShowAndRaise(*this); }

void TWebServer::acShowContainerExecute() { ShowAndRaise(container_); }

void TWebServer::acExitExecute() {
  // exit, not quit: quit first asks every window to close, and ours only hide.
  QApplication::exit(0);
}

void TWebServer::TrayIconDblClick() {
  if (container_.isVisible())
    container_.hide();
  else
    ShowAndRaise(container_);
}

void TWebServer::ShowState() {
  const QString port = FromBytes(controller_.PortText());
  if (PortEdit->text() != port) PortEdit->setText(port);
  PortEdit->setEnabled(controller_.PortEditEnabled());
  ClientCountLabel->setText(FromBytes(controller_.ClientCountText()));
  StartButton->setEnabled(controller_.StartButtonEnabled());
  StopButton->setEnabled(controller_.StopButtonEnabled());
  DisplayHeader->setChecked(controller_.DisplayHeader());
  container_.ShowStatus(controller_.StatusLine());
}

void TWebServer::ShowLog() {
  if (!isVisible()) {
    logViewStale_ = true;
    return;
  }
  const TConsoleLog& log = controller_.Log();
  const int count = log.Count();
  if (count == 0) {
    DisplayMemo->clear();
  } else if (count == shownLines_ + 1 || (count == shownLines_ && count == TConsoleLog::MaxLines)) {
    // The view drops its first line by itself once it holds as many as the log keeps.
    DisplayMemo->appendPlainText(ViewLine(log.Lines().back()));
  } else {
    ShowWholeLog();
  }
  shownLines_ = count;
  ScrollToLastLine();
}

void TWebServer::RefreshLogView() {
  if (!logViewStale_) return;
  logViewStale_ = false;
  ShowWholeLog();
  shownLines_ = controller_.Log().Count();
}

void TWebServer::ShowWholeLog() {
  QStringList lines;
  for (const std::string& line : controller_.Log().Lines()) lines << ViewLine(line);
  DisplayMemo->setPlainText(lines.join(QLatin1Char('\n')));
}

void TWebServer::ScrollToLastLine() {
  QTextCursor cursor = DisplayMemo->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.movePosition(QTextCursor::StartOfBlock);
  DisplayMemo->setTextCursor(cursor);
  DisplayMemo->ensureCursorVisible();
}

}  // namespace driftpost
