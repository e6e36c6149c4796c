// What the picture readers share beyond TGraphicExGraphic: reading fixed-size headers and
// multi-byte fields in either byte order, the limits of the stream being read, and the
// progress reports every load gives. Nothing here owns the stream or the picture it serves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/ByteOrder.h"
#include "picture/Graphic.h"
#include "platform/Stream.h"

namespace driftpost {


// The bytes of a header of N bytes, read whole or not at all (EReadError).
template <std::size_t N>
std::array<std::uint8_t, N> ReadHeaderBytes(TStream& stream) {
  std::array<std::uint8_t, N> bytes;
  stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(N));
  return bytes;
}

// How many bytes the stream holds after its current position (0 at or past its end).
std::int64_t BytesLeft(TStream& stream);

// A text field of a header: the bytes up to the first 0 byte (or all of them).
std::string HeaderText(const std::uint8_t* at, std::size_t size);

// Puts the stream back where it was when this guard was made (format sniffing).
class TStreamPositionGuard {
 public:
  explicit TStreamPositionGuard(TStream& stream) : stream_(stream), position_(stream.Position()) {}
  ~TStreamPositionGuard() { stream_.SetPosition(position_); }
  TStreamPositionGuard(const TStreamPositionGuard&) = delete;
  TStreamPositionGuard& operator=(const TStreamPositionGuard&) = delete;

 private:
  TStream& stream_;
  std::int64_t position_;
};

// Points a picture's reference to the stream being read at that stream for one load, and
// clears it again however the load ends.
class TCurrentStream {
 public:
  TCurrentStream(TStream*& slot, TStream& stream) : slot_(slot) { slot_ = &stream; }
  ~TCurrentStream() { slot_ = nullptr; }
  TCurrentStream(const TCurrentStream&) = delete;
  TCurrentStream& operator=(const TCurrentStream&) = delete;

 private:
  TStream*& slot_;
};

// The progress reports of one load, sent through the picture's OnProgress event. A load has
// stages ("Preparing...", "Transfering..."), each reported when it starts and when it ends;
// the row stage reports every delivered row with its percentage and the rectangle of that
// row, which starts as the first row and moves down one row per report. A stage still open
// when the load fails is reported as ended all the same.
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
