#include "app/MessageLoopBridge.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <exception>

#include "platform/MessageLoop.h"

namespace driftpost {

TMessageLoopBridge::TMessageLoopBridge(TMessageLoop& loop) : loop_(loop) {
  notifier_ = std::make_unique<QSocketNotifier>(loop_.Descriptor(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { ProcessMessages(); });
  loop_.SetPumpHook([] { QCoreApplication::processEvents(); });
}

TMessageLoopBridge::~TMessageLoopBridge() { loop_.SetPumpHook(nullptr); }

void TMessageLoopBridge::ProcessMessages() {
  // Nothing may leave through Qt's event loop. The sockets take their own handlers'
  // failures; what still arrives here is reported and the loop goes on.
  try {
    loop_.ProcessMessages();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown failure in the message loop\n");
  }
}

}  // namespace driftpost
