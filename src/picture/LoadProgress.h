// The progress reports of one picture load, sent through the picture's OnProgress event. A
// load has stages ("Preparing...", "Transfering..."), each reported when it starts and when
// it ends; the row stage reports every delivered row with its percentage and the rectangle
// of that row, which starts as the first row and moves down one row per report. A stage
// still open when the load fails is reported as ended all the same.
#pragma once

#include <cstdint>
#include <string>

#include "picture/Graphic.h"

namespace driftpost {

class TLoadProgress {
 public:
  // `rect` is the picture's own progress rectangle; it must outlive this object.
  TLoadProgress(TGraphic& graphic, TRect& rect) : graphic_(graphic), rect_(rect) {}
  ~TLoadProgress();
  TLoadProgress(const TLoadProgress&) = delete;
  TLoadProgress& operator=(const TLoadProgress&) = delete;

  // Ends an open stage, then starts one with this message.
  void Begin(const std::string& message);
  // Begin("Transfering...") for rows `width` pixels wide.
  void BeginRows(int width);
  // Row `row` of `height` is delivered.
  void RowDone(int row, int height);
  // Ends the open stage, if any.
  void End();

 private:
  void Report(TProgressStage stage, std::uint8_t percent, bool redrawNow, const std::string& message);

  TGraphic& graphic_;
  TRect& rect_;
  bool open_ = false;
};

}  // namespace driftpost
