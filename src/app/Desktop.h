// The program's two windows, made in start-up order and destroyed in shut-down order. The
// Container window comes first, so it is the main window; the console window follows, and
// its creation starts the server. The windows use the program's store, log and console
// state, which outlive them.
#pragma once

#include <memory>

namespace driftpost {

class TContainer;
class TProgram;
class TWebServer;

class TDesktop {
 public:
  explicit TDesktop(TProgram& program);
  ~TDesktop();
  TDesktop(const TDesktop&) = delete;
  TDesktop& operator=(const TDesktop&) = delete;

  // Shows the main window, as the start of the loop does; the console stays hidden.
  void ShowMainWindow();
  // Shows the main window in front of the others, restored if it was minimised: the
  // program was started again and the user is looking for it.
  void BringMainWindowForward();

  // Destroys the console window (its tray icon leaves the tray), then the Container window,
  // which hides (saving its placement when it was visible) and saves its placement and the
  // share list. False when the share list could not be saved. Runs once.
  bool ShutDown();

  TContainer& Container() { return *container_; }
  TWebServer& Console() { return *console_; }

 private:
  std::unique_ptr<TContainer> container_;
  std::unique_ptr<TWebServer> console_;
  bool shutDown_ = false;
  bool sharesSaved_ = false;
};

}  // namespace driftpost
