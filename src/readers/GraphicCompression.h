// The decompressors the picture readers share. A reader creates the one its file declares,
// hands it packed bytes and a destination buffer, and frees it when the picture is loaded.
// The decompressor owns neither buffer. This file holds the common interface and the
// run-length schemes; they keep no state between calls and allocate nothing.
//
// Every Decode reads at most `packedSize` bytes from `source` and writes at most `destSize`
// bytes at `dest`, whatever the packed data claims: a packet that runs past either limit is
// cut there. Output the data does not fill keeps what the buffer held.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Exception.h"

namespace driftpost {

// Packed data that cannot be unpacked (raised by the decompressors that check their data).
class EGraphicCompression : public Exception {
 public:
  using Exception::Exception;
};

class TDecoder {
 public:
  virtual ~TDecoder() = default;

  // Unpacks one buffer (a row, strip, plane or chunk). `packedSize` bytes are readable at
  // `source`; `unpackedSize` is the output wanted, in the unit each class names; `destSize`
  // bytes are writable at `dest`. Negative sizes count as 0. Which of `source` and `dest`
  // are moved past what was consumed and produced depends on the class.
  virtual void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                      std::int32_t unpackedSize, std::size_t destSize) = 0;
  // Releases what DecodeInit set up.
  virtual void DecodeEnd() {}
  // Prepares a series of Decode calls.
  virtual void DecodeInit() {}
  // Packs `count` units from `source` into `dest` and sets `bytesStored` to the bytes written.
  virtual void Encode(const std::uint8_t* source, std::uint8_t* dest, std::uint32_t count,
                      std::uint32_t& bytesStored) = 0;
  virtual void EncodeInit() {}
  virtual void EncodeEnd() {}
};

// Nothing in the program packs pixels: every decompressor derives from this one, whose
// Encode stores nothing and reports 0 bytes.
class TUnpackOnlyDecoder : public TDecoder {
 public:
  void Encode(const std::uint8_t* source, std::uint8_t* dest, std::uint32_t count,
              std::uint32_t& bytesStored) override;
};

// Truevision Targa. `unpackedSize` counts pixels of the colour depth (8, 15, 16, 24 or 32
// bits; any other depth decodes nothing). A header byte with bit 7 set repeats the next
// pixel, otherwise the next pixels are copied; (header & 0x7F) + 1 pixels either way.
// Advances `source` past the packets consumed; `dest` stays.
//
// Older writers let a packet run on from one row into the next. A packet that runs past the
// pixels wanted is consumed whole; the pixels it has left over are kept and written first
// by the next call, so consecutive calls decode one picture row by row. DecodeInit forgets
// them.
class TTargaRLEDecoder : public TUnpackOnlyDecoder {
 public:
  explicit TTargaRLEDecoder(std::uint32_t colorDepth) : colorDepth_(colorDepth) {}
  std::uint32_t ColorDepth() const { return colorDepth_; }
  void DecodeInit() override { carried_ = 0; }
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
  // Pixels of the last packet still waiting for the next call.
  std::size_t CarriedPixels() const { return carried_; }

 private:
  // Keeps `count` pixels for the next call: `pixels` holds them in a row, or one pixel to be
  // repeated when `repeat` is set.
  void Carry(const std::uint8_t* pixels, std::size_t count, std::size_t pixelBytes, bool repeat);

  std::uint32_t colorDepth_;
  // A packet holds at most 128 pixels of at most 4 bytes, and at least one of them was
  // written before the rest is carried. Invariant: carryStart_ + carried_ <= 127.
  std::array<std::uint8_t, 127 * 4> carry_{};
  std::size_t carryStart_ = 0;  // in pixels
  std::size_t carried_ = 0;     // in pixels
};

// PackBits (TIFF 32773, Photoshop). Signed header H: -127..-1 repeats the next byte 1 - H
// times, 0..127 copies the next H + 1 bytes, -128 does nothing. Stops when `unpackedSize`
// bytes are written or the packed bytes are used up. Advances neither pointer.
class TPackbitsRLEDecoder : public TUnpackOnlyDecoder {
 public:
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

// PCX. A byte with both top bits set repeats the next byte (byte & 0x3F) times; any other
// byte is itself output. Stops after `unpackedSize` bytes. Advances neither pointer.
class TPCXRLEDecoder : public TUnpackOnlyDecoder {
 public:
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

// SGI, samples of 8 or 16 bits (a header word per packet for 16). Count = header & 0x7F;
// bit 7 set copies count samples, clear repeats the next sample count times; a count of 0
// ends the row. 16-bit samples are written as stored (big-endian). `unpackedSize` is not
// used. Advances neither pointer.
class TSGIRLEDecoder : public TUnpackOnlyDecoder {
 public:
  explicit TSGIRLEDecoder(std::uint8_t sampleSize) : sampleSize_(sampleSize) {}
  std::uint8_t SampleSize() const { return sampleSize_; }
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;

 private:
  std::uint8_t sampleSize_;
};

// Dr. Halo CUT, one row per call. Skips the row's two-byte length, then count = header &
// 0x7F; bit 7 set repeats the next byte count times, clear copies count bytes; a header of
// 0 ends the row (0x80 is an empty run: it takes its value byte and the row goes on).
// `unpackedSize` is not used. Advances `source` past the row's terminator, so consecutive
// calls walk a buffer row by row; `dest` stays.
class TCUTRLEDecoder : public TUnpackOnlyDecoder {
 public:
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

// Paint Shop Pro. Header H >= 128 repeats the next byte H - 128 times; H < 128 copies the
// next H bytes. Runs until the packed bytes are used up. Advances neither pointer.
class TPSPRLEDecoder : public TUnpackOnlyDecoder {
 public:
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

// Alias/Wavefront RLA. Signed header H >= 0 repeats the next byte H + 1 times; H < 0
// copies the next -H bytes. Runs until the packed bytes are used up. Advances neither
// pointer.
class TRLADecoder : public TUnpackOnlyDecoder {
 public:
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
};

// Deflate (zlib streams: PNG, TIFF deflate, Paint Shop Pro), on zlib's inflate. DecodeInit
// sets up the inflate state and DecodeEnd releases it (the destructor releases it too, for
// a load that failed between the two). Decode inflates at most min(unpackedSize, destSize)
// bytes from at most `packedSize` bytes with the flush mode given at construction, and
// advances `source` and `dest` past what was consumed and produced. With automatic reset
// every call inflates its buffer as a stream of its own; without, the calls continue one
// stream. After a call that did not return 0 (Z_OK) nothing more is inflated: LastResult
// tells why (1, Z_STREAM_END, at the stream's end; negative for damaged data).
class TLZ77Decoder : public TUnpackOnlyDecoder {
 public:
  TLZ77Decoder(int flushMode, bool autoReset);
  ~TLZ77Decoder() override;
  TLZ77Decoder(const TLZ77Decoder&) = delete;
  TLZ77Decoder& operator=(const TLZ77Decoder&) = delete;

  // Raises EGraphicCompression "LZ77 decompression error." when zlib cannot start.
  void DecodeInit() override;
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
  // Raises EGraphicCompression "LZ77 decompression error." when zlib reports a fault.
  void DecodeEnd() override;

  int LastResult() const { return lastResult_; }
  // Input bytes of the last call not consumed, and output room of the last call not filled.
  std::uint32_t AvailableInput() const;
  std::uint32_t AvailableOutput() const;

 private:
  struct TStreamRecord;  // zlib's z_stream, kept out of this header
  std::unique_ptr<TStreamRecord> stream_;
  int flushMode_;
  bool autoReset_;
  bool started_ = false;
  int lastResult_ = 0;
};

}  // namespace driftpost
