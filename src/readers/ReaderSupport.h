// What the picture readers share beyond TGraphicExGraphic: reading fixed-size headers and
// multi-byte fields in either byte order and the limits of the stream being read. Nothing
// here owns the stream it reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/ByteOrder.h"
#include "picture/Graphic.h"
#include "picture/LoadProgress.h"
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

}  // namespace driftpost
