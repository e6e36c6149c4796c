#include "app/Desktop.h"

#include "app/Program.h"
#include "app/ServerUnit.h"
#include "container/gui/ContainerUnit.h"

namespace driftpost {

TDesktop::TDesktop(TProgram& program) {
  container_ = std::make_unique<TContainer>(program.Store(), program.IniFileName(), program.ContainerFileName());
  console_ = std::make_unique<TWebServer>(program.Console(), *container_);
  container_->AddConsoleAction(console_->acShowConsole);
  // The console starts its log afresh when it is made, so what the Container window found
  // before is logged only now.
  TConsoleLog& log = program.Log();
  container_->OnLogLine = [&log](const std::string& line) { log.LogLine(line); };
  if (!program.Store().LoadFailure().empty()) log.LogLine(program.Store().LoadFailure());
}

TDesktop::~TDesktop() { ShutDown(); }

void TDesktop::ShowMainWindow() { container_->show(); }

void TDesktop::BringMainWindowForward() {
  container_->setWindowState(container_->windowState() & ~Qt::WindowMinimized);
  container_->show();
  container_->raise();
  container_->activateWindow();
}

bool TDesktop::ShutDown() {
  if (shutDown_) return sharesSaved_;
  shutDown_ = true;
  console_.reset();
  sharesSaved_ = container_->ShutDown();
  container_.reset();
  return sharesSaved_;
}

}  // namespace driftpost
