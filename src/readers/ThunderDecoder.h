// The ThunderScan decompressor (TIFF compression 32809): 4-bit grey pixels, two to a byte,
// the first in the high nibble, coded as runs of the last pixel, small differences to it, or
// raw values. Every row starts afresh on a byte boundary with a last pixel of 0.
#pragma once

#include <cstdint>

#include "readers/GraphicCompression.h"

namespace driftpost {

class TThunderDecoder : public TUnpackOnlyDecoder {
 public:
  explicit TThunderDecoder(std::uint32_t width) : width_(width) {}
  std::uint32_t Width() const { return width_; }

  // Decodes rows of `width` pixels ((width + 1) / 2 bytes each) into min(unpackedSize,
  // destSize) bytes at `dest` from at most `packedSize` bytes; a row's codes end when it
  // holds `width` pixels, and a run is cut at the row's end. What the data does not fill
  // stays as it was. Neither pointer is advanced.
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;

 private:
  std::uint32_t width_;
};

}  // namespace driftpost
