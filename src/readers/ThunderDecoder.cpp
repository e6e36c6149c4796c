#include "readers/ThunderDecoder.h"

#include <algorithm>

namespace driftpost {
namespace {

// Differences to the last pixel by code; the codes marked 0 here (2 of the two-bit codes, 4
// of the three-bit codes) emit nothing.
constexpr int TwoBitDeltas[4] = {0, 1, 0, -1};
constexpr int ThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1};
constexpr unsigned TwoBitSkip = 2;
constexpr unsigned ThreeBitSkip = 4;

std::size_t SizeOf(std::int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 0; }

// The pixels of one row. Invariant: at most `width` pixels are written, each inside
// [`at`, `end`).
class TRowWriter {
 public:
  TRowWriter(std::uint8_t* at, std::uint8_t* end, std::uint32_t width) : at_(at), end_(end), width_(width) {}

  bool Complete() const { return count_ >= width_; }
  unsigned Last() const { return last_; }

  void Emit(unsigned pixel) {
    last_ = pixel & 0x0F;
    if (Complete()) return;
    if (at_ < end_) {
      if (count_ & 1)
        *at_++ |= static_cast<std::uint8_t>(last_);
      else
        *at_ = static_cast<std::uint8_t>(last_ << 4);
    }
    ++count_;
  }

  void Repeat(unsigned times) {
    times = std::min<std::uint32_t>(times, width_ - std::min(count_, width_));
    for (unsigned i = 0; i < times; ++i) Emit(last_);
  }

 private:
  std::uint8_t* at_;
  std::uint8_t* end_;
  std::uint32_t width_;
  std::uint32_t count_ = 0;
  unsigned last_ = 0;
};

}  // namespace

void TThunderDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                             std::int32_t unpackedSize, std::size_t destSize) {
  const std::size_t size = std::min(SizeOf(unpackedSize), destSize);
  const std::size_t rowBytes = (std::size_t{width_} + 1) / 2;
  const std::uint8_t* in = source;
  const std::uint8_t* const inEnd = source + SizeOf(packedSize);
  if (rowBytes == 0) return;
  for (std::size_t row = 0; row < size && in < inEnd; row += rowBytes) {
    TRowWriter writer(dest + row, dest + std::min(row + rowBytes, size), width_);
    while (in < inEnd && !writer.Complete()) {
      const unsigned code = *in++;
      switch (code >> 6) {
        case 0:  // a run of the last pixel
          writer.Repeat(code & 0x3F);
          break;
        case 1:  // three two-bit differences
          for (unsigned shift : {4u, 2u, 0u}) {
            const unsigned delta = (code >> shift) & 3;
            if (delta != TwoBitSkip) writer.Emit(writer.Last() + static_cast<unsigned>(TwoBitDeltas[delta]));
          }
          break;
        case 2:  // two three-bit differences
          for (unsigned shift : {3u, 0u}) {
            const unsigned delta = (code >> shift) & 7;
            if (delta != ThreeBitSkip) writer.Emit(writer.Last() + static_cast<unsigned>(ThreeBitDeltas[delta]));
          }
          break;
        default:  // a raw pixel
          writer.Emit(code & 0x0F);
          break;
      }
    }
  }
}

}  // namespace driftpost
