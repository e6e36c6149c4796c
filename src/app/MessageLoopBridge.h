// Lets Qt's event loop drive the socket layer's message loop, so that sockets, posted
// messages and Qt's events all run on the GUI thread, with or without a display: one
// QSocketNotifier watches the loop's descriptor and runs its messages whenever it is
// readable, and code that pumps the socket loop while it waits lets Qt's events run too.
// The bridge works while it exists; the program keeps one for the life of its main loop.
#pragma once

#include <memory>

class QSocketNotifier;

namespace driftpost {

class TMessageLoop;

class TMessageLoopBridge {
 public:
  explicit TMessageLoopBridge(TMessageLoop& loop);
  ~TMessageLoopBridge();
  TMessageLoopBridge(const TMessageLoopBridge&) = delete;
  TMessageLoopBridge& operator=(const TMessageLoopBridge&) = delete;

 private:
  void ProcessMessages();

  TMessageLoop& loop_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace driftpost
