// The fax decompressors of TIFF: one-dimensional CCITT Group 3 (T.4 modified Huffman rows
// that begin with an end-of-line code, TIFF compression 3) and plain modified Huffman (rows
// without end-of-line codes, each starting on a byte boundary, TIFF compressions 2 and
// 32771). Both decode runs through the T.4 code trees built at construction and write rows
// of 1-bit pixels, 1 = black, most significant bit first, each row (width + 7) / 8 bytes.
//
// Decode clears min(unpackedSize, destSize) bytes at `dest` and fills whole rows from at most
// `packedSize` bytes at `source`. Damaged data never raises: a run longer than what is left
// of its row is cut at the row's end, and what the data does not describe stays white.
// Neither pointer is advanced.
#pragma once

#include <cstdint>
#include <vector>

#include "readers/GraphicCompression.h"

namespace driftpost {

class TCCITTDecoder : public TUnpackOnlyDecoder {
 public:
  // `options` are the file's T4 options (kept, not consulted: the reader refuses what these
  // decoders cannot do). With `swapBits` the packed bytes run least significant bit first
  // and are reversed in place before decoding. With `wordAligned` every row's code starts
  // on a 16-bit boundary of the packed data (modified Huffman only).
  TCCITTDecoder(std::uint32_t options, bool swapBits, bool wordAligned, std::uint32_t width);

  std::uint32_t Options() const { return options_; }
  std::uint32_t Width() const { return width_; }

  // A node of a code tree: the children for bit 0 and bit 1 (0 means none; the root is
  // node 0 and never anyone's child) and the value of the code ending here.
  struct TCodeNode {
    std::uint32_t Child[2] = {0, 0};
    std::int32_t Value = 0;
  };
  // Code values: run lengths, or these two.
  static constexpr std::int32_t EndOfLine = -1;
  static constexpr std::int32_t InvalidCode = -2;

 protected:
  // The state of one Decode call: the bit reader over the packed bytes and the row writer.
  class TRun;

  std::uint32_t options_;
  bool swapBits_;
  bool wordAligned_;
  std::uint32_t width_;
  std::vector<TCodeNode> whiteTree_;
  std::vector<TCodeNode> blackTree_;
};

class TCCITTFax3Decoder : public TCCITTDecoder {
 public:
  using TCCITTDecoder::TCCITTDecoder;
  // Rows are found by their end-of-line codes, so a damaged row costs only itself.
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

class TCCITTMHDecoder : public TCCITTDecoder {
 public:
  using TCCITTDecoder::TCCITTDecoder;
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

}  // namespace driftpost
