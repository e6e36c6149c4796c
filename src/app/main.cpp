// Driftpost: shares files from this computer with an Apple Newton through its web browser.

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Desktop.h"
#include "app/MessageLoopBridge.h"
#include "app/core/CommandLine.h"
#include "app/core/ProgramFiles.h"
#include "app/core/SingleInstance.h"
#include "container/SharedFiles.h"
#include "picture/FormatRegistry.h"
#include "readers/ReaderRegistration.h"
#include "app/Program.h"
#include "platform/Exception.h"
#include "platform/MessageLoop.h"

namespace {

// An installed copy keeps its files in the user's XDG folders; the build decides.
#ifdef DRIFTPOST_XDG_FILES
constexpr driftpost::TFileLayout FileLayout = driftpost::TFileLayout::XdgFolders;
#else
constexpr driftpost::TFileLayout FileLayout = driftpost::TFileLayout::BesideExecutable;
#endif

// Exit status for a command line that cannot be followed; nothing is shared then.
constexpr int UsageError = 2;

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  // Nothing but a write is safe here; the loop sees the byte and ends the program.
  [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP end the program as "Exit" does: an orderly shut-down.
void InstallTerminationHandlers() {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// Without a display the program still serves; it runs on Qt's offscreen platform.
void ChooseOffscreenWithoutDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 && *x11) || (wayland && *wayland) || std::getenv("QT_QPA_PLATFORM")) return;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::printf("No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): "
              "running without windows on Qt's offscreen platform.\n");
  std::fflush(stdout);
}

// The program's message loop: Qt's, which drives the socket layer's loop through one
// QSocketNotifier on its descriptor, while the socket layer's pumping runs Qt's events.
int RunMessageLoop(QApplication& application) {
  driftpost::TMessageLoopBridge bridge(driftpost::TMessageLoop::Current());
  return application.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string executablePath = driftpost::ExecutablePath();
  const driftpost::TProgramFiles files = driftpost::ProgramFilesFor(executablePath, FileLayout);
  // The command line is the program's own: it is read before Qt, which sees none of it.
  const driftpost::TCommandLine commandLine =
      driftpost::ParseCommandLine(argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>(),
                                 driftpost::CurrentFolder());
  switch (commandLine.Action) {
    case driftpost::TCommandAction::ShowHelp:
      std::fputs(driftpost::CommandLineHelp(files.IniFileName, files.ContainerFileName).c_str(), stdout);
      return EXIT_SUCCESS;
    case driftpost::TCommandAction::ShowVersion:
      std::printf("%s\n", driftpost::ProductVersion);
      return EXIT_SUCCESS;
    case driftpost::TCommandAction::Fail:
      std::fprintf(stderr, "%s\n", commandLine.Error.c_str());
      return UsageError;
    case driftpost::TCommandAction::Run: break;
  }
  try {
    driftpost::CreateProgramFolders(files, FileLayout);
  } catch (const driftpost::Exception& error) {
    // The program still serves; saving the settings and the share list will fail and say so.
    std::fprintf(stderr, "%s\n", error.what());
  }

  // A copy already running with this share list takes the files; this one would only stand
  // in its way. A start that names a port of its own asks for a server of its own, which it
  // gets, as before.
  driftpost::TSingleInstance instance(files.ContainerFileName);
  if (!instance.Claim() && commandLine.Port.empty()) {
    const std::string error = instance.HandOver(commandLine.Files);
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return EXIT_FAILURE;
    }
    std::printf("Driftpost is already running: it now shares the files named here and shows its Container window.\n");
    return EXIT_SUCCESS;
  }

  ChooseOffscreenWithoutDisplay();
  InstallTerminationHandlers();

  int qtArgc = argc > 0 ? 1 : 0;
  QApplication application(qtArgc, argv);
  QApplication::setApplicationName(driftpost::ApplicationTitle);
  // No display name: the platform would add it to every window title. The desktop entry's
  // name ties the windows to the menu entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("driftpost"));
  // Closing a window only hides it; the program runs in the tray until "Exit".
  QApplication::setQuitOnLastWindowClosed(false);

  // exit, not quit: quit first asks the windows to close, and they only hide. A signal ends
  // whichever loop runs: the main loop, or that of an error box waiting for its answer (at
  // start-up the main loop is then not entered at all; at shut-down the next signal ends a
  // box that nobody answers).
  bool terminating = false;
  QSocketNotifier terminate(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&terminate, &QSocketNotifier::activated, &application, [&terminating] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    terminating = true;
    QApplication::exit(0);
  });

  // The picture formats are registered before any window exists: the store asks them which
  // files are pictures.
  driftpost::InstallReaders();
  driftpost::InitializePictureFormats();
  driftpost::TProgram program(executablePath, files);
  if (!commandLine.Port.empty()) program.Console().OverridePort(commandLine.Port);
  program.CreateStore();
  program.CreateServer();
  driftpost::TDesktop desktop(program);
  // The files named on the command line join the share list as a drop would add them, and
  // so do those of a later start.
  driftpost::ShareFiles(program.Store(), commandLine.Files);
  std::unique_ptr<QSocketNotifier> handOvers;
  if (instance.ListenDescriptor() >= 0) {
    handOvers = std::make_unique<QSocketNotifier>(instance.ListenDescriptor(), QSocketNotifier::Read);
    QObject::connect(handOvers.get(), &QSocketNotifier::activated, &application, [&] {
      if (const auto paths = instance.Accept()) {
        driftpost::ShareFiles(program.Store(), *paths);
        desktop.BringMainWindowForward();
      }
    });
  }

  desktop.ShowMainWindow();
  if (!terminating) RunMessageLoop(application);

  bool saved = desktop.ShutDown();
  driftpost::FinalizePictureFormats();
  return saved ? EXIT_SUCCESS : EXIT_FAILURE;
}
