#include "readers/GraphicCompression.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

namespace driftpost {
namespace {

std::size_t SizeOf(std::int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 0; }

// The packed bytes still to be read. Invariant: `left` bytes are readable at `at`.
class TPackedInput {
 public:
  TPackedInput(std::uint8_t* at, std::int32_t size) : at_(at), left_(SizeOf(size)) {}

  std::size_t Left() const { return left_; }
  std::uint8_t* Position() const { return at_; }
  std::uint8_t Take() {
    --left_;
    return *at_++;
  }
  void Skip(std::size_t count) {
    at_ += count;
    left_ -= count;
  }

 private:
  std::uint8_t* at_;
  std::size_t left_;
};

// The output still writable. Invariant: `room` bytes are writable at `at`; every write is
// cut to the room there is.
class TOutput {
 public:
  TOutput(std::uint8_t* at, std::size_t room) : at_(at), room_(room) {}

  bool Full() const { return room_ == 0; }
  std::size_t Room() const { return room_; }
  void Put(std::uint8_t value) { Fill(value, 1); }
  void Fill(std::uint8_t value, std::size_t count) {
    count = std::min(count, room_);
    if (count) std::memset(at_, value, count);
    Advance(count);
  }
  void Copy(const std::uint8_t* from, std::size_t count) {
    count = std::min(count, room_);
    if (count) std::memcpy(at_, from, count);
    Advance(count);
  }

 private:
  void Advance(std::size_t count) {
    at_ += count;
    room_ -= count;
  }

  std::uint8_t* at_;
  std::size_t room_;
};

std::size_t TargaPixelBytes(std::uint32_t colorDepth) {
  switch (colorDepth) {
    case 8:
      return 1;
    case 15:
    case 16:
      return 2;
    case 24:
      return 3;
    case 32:
      return 4;
    default:
      return 0;
  }
}

}  // namespace

void TUnpackOnlyDecoder::Encode(const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t& bytesStored) {
  bytesStored = 0;
}

void TTargaRLEDecoder::Carry(const std::uint8_t* pixels, std::size_t count, std::size_t pixelBytes, bool repeat) {
  carryStart_ = 0;
  carried_ = count;
  if (!repeat) {
    std::memcpy(carry_.data(), pixels, count * pixelBytes);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) std::memcpy(carry_.data() + i * pixelBytes, pixels, pixelBytes);
}

void TTargaRLEDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                              std::int32_t unpackedSize, std::size_t destSize) {
  const std::size_t pixelBytes = TargaPixelBytes(colorDepth_);
  if (pixelBytes == 0) return;
  TPackedInput input(source, packedSize);
  std::uint8_t* out = dest;
  std::size_t remaining = std::min(SizeOf(unpackedSize), destSize / pixelBytes);

  // What the previous call's last packet left over comes first.
  const std::size_t fromCarry = std::min(carried_, remaining);
  if (fromCarry) std::memcpy(out, carry_.data() + carryStart_ * pixelBytes, fromCarry * pixelBytes);
  out += fromCarry * pixelBytes;
  remaining -= fromCarry;
  carryStart_ += fromCarry;
  carried_ -= fromCarry;

  while (remaining > 0 && input.Left() > 0) {
    const std::uint8_t header = *input.Position();
    const std::size_t count = (header & 0x7Fu) + 1u;
    if (header & 0x80u) {
      // A run whose pixel is cut off stays unconsumed.
      if (input.Left() < 1 + pixelBytes) break;
      input.Skip(1);
      const std::uint8_t* pixel = input.Position();
      input.Skip(pixelBytes);
      const std::size_t written = std::min(count, remaining);
      if (pixelBytes == 1) {
        std::memset(out, *pixel, written);
      } else {
        for (std::size_t i = 0; i < written; ++i) std::memcpy(out + i * pixelBytes, pixel, pixelBytes);
      }
      out += written * pixelBytes;
      remaining -= written;
      if (written < count) Carry(pixel, count - written, pixelBytes, true);
    } else {
      input.Skip(1);
      const std::size_t available = std::min(count, input.Left() / pixelBytes);
      const std::size_t written = std::min(available, remaining);
      if (written) std::memcpy(out, input.Position(), written * pixelBytes);
      if (written < available) Carry(input.Position() + written * pixelBytes, available - written, pixelBytes, false);
      input.Skip(available * pixelBytes);
      out += written * pixelBytes;
      remaining -= written;
      if (available < count) break;
    }
  }
  source = input.Position();
}

void TPackbitsRLEDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                                 std::int32_t unpackedSize, std::size_t destSize) {
  TPackedInput input(source, packedSize);
  TOutput output(dest, std::min(SizeOf(unpackedSize), destSize));
  while (!output.Full() && input.Left() > 0) {
    const auto header = static_cast<std::int8_t>(input.Take());
    if (header == -128) continue;
    if (header < 0) {
      if (input.Left() == 0) break;
      output.Fill(input.Take(), static_cast<std::size_t>(1 - header));
    } else {
      const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(header) + 1, input.Left());
      output.Copy(input.Position(), count);
      input.Skip(count);
    }
  }
}

void TPCXRLEDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                            std::int32_t unpackedSize, std::size_t destSize) {
  TPackedInput input(source, packedSize);
  TOutput output(dest, std::min(SizeOf(unpackedSize), destSize));
  while (!output.Full() && input.Left() > 0) {
    const std::uint8_t header = input.Take();
    if ((header & 0xC0u) == 0xC0u) {
      if (input.Left() == 0) break;
      output.Fill(input.Take(), header & 0x3Fu);
    } else {
      output.Put(header);
    }
  }
}

void TSGIRLEDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t,
                            std::size_t destSize) {
  TPackedInput input(source, packedSize);
  if (sampleSize_ == 16) {
    // Whole samples only: an odd last byte of room stays as it was.
    TOutput output(dest, destSize & ~std::size_t{1});
    while (!output.Full() && input.Left() >= 2) {
      std::uint16_t header = static_cast<std::uint16_t>(input.Take() << 8);
      header = static_cast<std::uint16_t>(header | input.Take());
      const std::size_t count = header & 0x7Fu;
      if (count == 0) break;
      if (header & 0x80u) {
        const std::size_t words = std::min(count, input.Left() / 2);
        output.Copy(input.Position(), words * 2);
        input.Skip(words * 2);
      } else {
        if (input.Left() < 2) break;
        const std::uint8_t valueHigh = input.Take();
        const std::uint8_t valueLow = input.Take();
        for (std::size_t i = 0; i < count && !output.Full(); ++i) {
          output.Put(valueHigh);
          output.Put(valueLow);
        }
      }
    }
    return;
  }
  TOutput output(dest, destSize);
  while (!output.Full() && input.Left() > 0) {
    const std::uint8_t header = input.Take();
    const std::size_t count = header & 0x7Fu;
    if (count == 0) break;
    if (header & 0x80u) {
      const std::size_t copied = std::min(count, input.Left());
      output.Copy(input.Position(), copied);
      input.Skip(copied);
    } else {
      if (input.Left() == 0) break;
      output.Fill(input.Take(), count);
    }
  }
}

void TCUTRLEDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t,
                            std::size_t destSize) {
  TPackedInput input(source, packedSize);
  TOutput output(dest, destSize);
  // The row's stored length is not trusted: the row ends at its 0 header.
  input.Skip(std::min<std::size_t>(2, input.Left()));
  // Packets are consumed to the terminator even once the row is full, so that the next
  // call starts at the next row.
  while (input.Left() > 0) {
    const std::uint8_t header = input.Take();
    if (header == 0) break;
    const std::size_t count = header & 0x7Fu;
    if (header & 0x80u) {
      // 0x80 is a run of no pixels: it still has its value byte, and the row goes on.
      if (input.Left() == 0) break;
      output.Fill(input.Take(), count);
    } else {
      const std::size_t copied = std::min(count, input.Left());
      output.Copy(input.Position(), copied);
      input.Skip(copied);
    }
  }
  source = input.Position();
}

void TPSPRLEDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t,
                            std::size_t destSize) {
  TPackedInput input(source, packedSize);
  TOutput output(dest, destSize);
  while (!output.Full() && input.Left() > 0) {
    const std::uint8_t header = input.Take();
    if (header >= 128) {
      if (input.Left() == 0) break;
      output.Fill(input.Take(), header - 128u);
    } else {
      const std::size_t copied = std::min<std::size_t>(header, input.Left());
      output.Copy(input.Position(), copied);
      input.Skip(copied);
    }
  }
}

void TRLADecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t,
                         std::size_t destSize) {
  TPackedInput input(source, packedSize);
  TOutput output(dest, destSize);
  while (!output.Full() && input.Left() > 0) {
    const auto header = static_cast<std::int8_t>(input.Take());
    if (header >= 0) {
      if (input.Left() == 0) break;
      output.Fill(input.Take(), static_cast<std::size_t>(header) + 1);
    } else {
      const std::size_t copied = std::min<std::size_t>(static_cast<std::size_t>(-header), input.Left());
      output.Copy(input.Position(), copied);
      input.Skip(copied);
    }
  }
}

struct TLZ77Decoder::TStreamRecord {
  z_stream zlib{};
};

TLZ77Decoder::TLZ77Decoder(int flushMode, bool autoReset)
    : stream_(std::make_unique<TStreamRecord>()), flushMode_(flushMode), autoReset_(autoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
  if (started_) inflateEnd(&stream_->zlib);
}

void TLZ77Decoder::DecodeInit() {
  if (started_) inflateEnd(&stream_->zlib);
  stream_->zlib = z_stream{};
  started_ = false;
  lastResult_ = 0;
  if (inflateInit(&stream_->zlib) < 0) throw EGraphicCompression("LZ77 decompression error.");
  started_ = true;
}

void TLZ77Decoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                          std::int32_t unpackedSize, std::size_t destSize) {
  z_stream& zlib = stream_->zlib;
  zlib.next_in = source;
  zlib.avail_in = static_cast<uInt>(SizeOf(packedSize));
  zlib.next_out = dest;
  zlib.avail_out = static_cast<uInt>(std::min(SizeOf(unpackedSize), destSize));
  if (!started_) {
    // Decode before DecodeInit: nothing to inflate with.
    lastResult_ = Z_STREAM_ERROR;
    return;
  }
  // Each buffer is a stream of its own: the end of the previous one does not stop this one.
  if (autoReset_) lastResult_ = inflateReset(&zlib);
  if (lastResult_ != Z_OK) return;
  lastResult_ = inflate(&zlib, flushMode_);
  source = zlib.next_in;
  dest = zlib.next_out;
}

void TLZ77Decoder::DecodeEnd() {
  if (!started_) return;
  started_ = false;
  if (inflateEnd(&stream_->zlib) < 0) throw EGraphicCompression("LZ77 decompression error.");
}

std::uint32_t TLZ77Decoder::AvailableInput() const { return stream_->zlib.avail_in; }

std::uint32_t TLZ77Decoder::AvailableOutput() const { return stream_->zlib.avail_out; }

}  // namespace driftpost
