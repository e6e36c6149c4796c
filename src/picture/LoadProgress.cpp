#include "picture/LoadProgress.h"

namespace driftpost {

TLoadProgress::~TLoadProgress() {
  // A listener that fails while the load is already failing must not end the program.
  try {
    End();
  } catch (...) {
  }
}

void TLoadProgress::Begin(const std::string& message) {
  End();
  open_ = true;
  Report(psStarting, 0, false, message);
}

void TLoadProgress::BeginRows(int width) {
  End();
  rect_ = TRect{0, 0, width, 1};
  Begin("Transfering...");
}

void TLoadProgress::RowDone(int row, int height) {
  const auto percent = static_cast<std::uint8_t>(height > 0 ? static_cast<std::int64_t>(row) * 100 / height : 0);
  Report(psRunning, percent, true, "");
  ++rect_.Top;
  ++rect_.Bottom;
}

void TLoadProgress::End() {
  if (!open_) return;
  open_ = false;
  Report(psEnding, 100, false, "");
}

void TLoadProgress::Report(TProgressStage stage, std::uint8_t percent, bool redrawNow, const std::string& message) {
  if (graphic_.OnProgress) graphic_.OnProgress(graphic_, stage, percent, redrawNow, rect_, message);
}

}  // namespace driftpost
