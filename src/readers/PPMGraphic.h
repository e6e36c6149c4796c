// TPPMGraphic: the portable bitmap, grey map and pixel map pictures (pbm, pgm, ppm), in
// their text variants (P1 to P3) and binary variants (P4 to P6). Grey and colour samples
// are scaled from 0..maximum value to 0..255 (rounded); binary samples take two bytes, most
// significant first, when the maximum exceeds 255. Maps with a maximum of 255 keep their
// sample bytes as they are.
//
// All reading goes through a buffer of 4096 bytes over the stream being loaded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TPPMGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TPPMGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "PBM, PGM or PPM"; }

  // "P" and a digit 1 to 6, with more than 10 bytes; the stream stays put.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the header; false for a variant other than P1 to P6,
  // for a picture without pixels, for a maximum value of 0 and for binary samples beyond
  // 16 bits.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for an unloadable header and "Stream read error in
  // PPM file." when the data ends before the picture does.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;

 private:
  static constexpr std::size_t kBufferSize = 4096;

  struct THeader {
    char Variant = 0;  // '1' to '6'
    std::uint64_t Width = 0;
    std::uint64_t Height = 0;
    std::uint64_t MaxValue = 0;  // 1 for bitmaps
  };

  // Reads the magic and the numbers after it; Variant is 0 when the magic is not "P".
  THeader ReadHeader();

  void StartReading(TStream& stream);
  // The next byte, refilling the buffer from the stream; false at the end of the data.
  bool NextByte(std::uint8_t& byte);
  // The next byte; the end of the data raises the stream read error.
  std::uint8_t GetByte();
  // `count` bytes into `out`; the end of the data raises the stream read error.
  void GetBytes(std::uint8_t* out, std::size_t count);
  // Drops the rest of a comment line.
  void SkipLine();
  // Skips to the next decimal number and reads it, consuming the byte after it. A value
  // beyond 64 bits keeps its low bits and sets `overflow`.
  std::uint64_t ReadNumber(bool& overflow);
  // A number used as a size: one beyond 32 bits reads as 2^32, which no picture allows.
  std::uint64_t ReadSize();
  // A text sample of 0..maximum, scaled to 0..255.
  std::uint8_t ReadSample(std::uint64_t maximum);
  // A text bitmap pixel: the low bit of the next digit (digits need no blanks between them).
  std::uint8_t ReadBit();
  [[noreturn]] void RaiseReadError() const;

  std::array<std::uint8_t, kBufferSize> buffer_{};
  // Invariant: index_ <= filled_ <= kBufferSize; bytes index_ to filled_ are unread.
  std::size_t index_ = kBufferSize;
  std::size_t filled_ = kBufferSize;
};

}  // namespace driftpost
