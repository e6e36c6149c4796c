#include "picture/BitmapFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/ByteOrder.h"
#include "picture/PictureLimits.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace driftpost {

namespace {

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

constexpr std::uint32_t CoreHeaderSize = 12;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t LargestHeaderSize = 124;


// The fields of every header version that decoding needs, after validation.
struct TDibHeader {
  std::uint32_t Size = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0;  // rows, always positive here
  bool TopDown = false;
  int BitCount = 0;
  std::uint32_t Compression = BI_RGB;
  std::uint32_t ColorsUsed = 0;
  std::array<std::uint32_t, 4> Masks = {};  // red, green, blue, alpha
  std::uint32_t MaskBytesAfterHeader = 0;    // bit fields stored behind a plain info header
};

class TDibReader {
 public:
  TDibReader(TStream& stream, const std::string& formatName) : stream_(stream), formatName_(formatName) {}

  [[noreturn]] void Invalid() const { throw EInvalidGraphic(Format(InvalidImageMessage, {formatName_})); }

  TDibHeader ReadHeader(bool iconImage);
  std::vector<TRGBQuad> ReadColorTable(const TDibHeader& header);
  TDibInfo ReadPixels(const TDibHeader& header, std::vector<TRGBQuad> palette, TBitmap& bitmap);

 private:
  void ReadRows(const TDibHeader& header, TBitmap& bitmap);
  void ReadBitFieldRows(const TDibHeader& header, TBitmap& bitmap);
  void ReadRunLengthRows(const TDibHeader& header, TBitmap& bitmap);

  TStream& stream_;
  const std::string& formatName_;
};

TDibHeader TDibReader::ReadHeader(bool iconImage) {
  std::uint8_t raw[LargestHeaderSize] = {};
  stream_.ReadBuffer(raw, 4);
  TDibHeader header;
  header.Size = LoadLE32(raw);
  const std::uint32_t size = header.Size;
  const bool known = size == CoreHeaderSize || size == InfoHeaderSize || size == 52 || size == 56 || size == 64 ||
                     size == 108 || size == LargestHeaderSize;
  if (!known || (iconImage && size < InfoHeaderSize)) Invalid();
  stream_.ReadBuffer(raw + 4, size - 4);

  if (size == CoreHeaderSize) {
    header.Width = LoadLE16(raw + 4);
    header.Height = LoadLE16(raw + 6);
    header.BitCount = LoadLE16(raw + 10);
  } else {
    header.Width = static_cast<std::int32_t>(LoadLE32(raw + 4));
    const std::int64_t height = static_cast<std::int32_t>(LoadLE32(raw + 8));
    header.TopDown = height < 0;
    header.Height = height < 0 ? -height : height;
    header.BitCount = LoadLE16(raw + 14);
    header.Compression = LoadLE32(raw + 16);
    header.ColorsUsed = LoadLE32(raw + 32);
    // The OS/2 header of 64 bytes gives compression numbers from 3 on other meanings.
    if (size == 64 && header.Compression > BI_RLE4) Invalid();
    if (size >= 52 && size != 64) {
      for (int i = 0; i < 3; ++i) header.Masks[i] = LoadLE32(raw + 40 + 4 * i);
      if (size >= 56) header.Masks[3] = LoadLE32(raw + 52);
    }
  }
  if (iconImage) {
    // The height of an icon's image counts its colour rows and its mask rows.
    if (header.TopDown) Invalid();
    header.Height /= 2;
  }

  const int bits = header.BitCount;
  if (header.Width <= 0 || header.Height <= 0) Invalid();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) Invalid();
  switch (header.Compression) {
    case BI_RGB: break;
    case BI_RLE8:
      if (bits != 8 || iconImage) Invalid();
      break;
    case BI_RLE4:
      if (bits != 4 || iconImage) Invalid();
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (bits != 16 && bits != 32) Invalid();
      if (size == InfoHeaderSize) {
        const int count = header.Compression == BI_BITFIELDS ? 3 : 4;
        std::uint8_t masks[16];
        stream_.ReadBuffer(masks, 4 * count);
        for (int i = 0; i < count; ++i) header.Masks[i] = LoadLE32(masks + 4 * i);
        header.MaskBytesAfterHeader = 4 * count;
      }
      break;
    default: Invalid();
  }
  return header;
}

std::vector<TRGBQuad> TDibReader::ReadColorTable(const TDibHeader& header) {
  const std::uint32_t entrySize = header.Size == CoreHeaderSize ? 3 : 4;
  std::uint32_t stored = header.ColorsUsed;
  std::uint32_t used = 0;
  if (header.BitCount <= 8) {
    const std::uint32_t full = 1u << header.BitCount;
    if (stored == 0 || stored > full) stored = full;
    used = stored;
  } else if (stored > 65536) {
    // A colour table for a bitmap that needs none is only skipped; a count this large is
    // not a table at all.
    Invalid();
  }
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(stored) * entrySize);
  stream_.ReadBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));
  std::vector<TRGBQuad> palette(used);
  for (std::uint32_t i = 0; i < used; ++i) {
    const std::uint8_t* entry = raw.data() + i * entrySize;
    palette[i] = TRGBQuad{entry[0], entry[1], entry[2], 0};
  }
  return palette;
}

TDibInfo TDibReader::ReadPixels(const TDibHeader& header, std::vector<TRGBQuad> palette, TBitmap& bitmap) {
  TDibInfo info;
  info.BitCount = header.BitCount;
  TPixelDepth depth = pd24Bit;
  bool direct = true;
  const auto& m = header.Masks;
  switch (header.BitCount) {
    case 1: depth = pd1Bit; break;
    case 4: depth = pd4Bit; break;
    case 8: depth = pd8Bit; break;
    case 24: depth = pd24Bit; break;
    case 16:
      if (header.Compression == BI_RGB || (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F && m[3] == 0)) {
        depth = pd15Bit;
      } else if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F && m[3] == 0) {
        depth = pd16Bit;
      } else {
        depth = pd32Bit;
        direct = false;
      }
      break;
    case 32:
      depth = pd32Bit;
      if (header.Compression != BI_RGB &&
          !(m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF && (m[3] == 0 || m[3] == 0xFF000000)))
        direct = false;
      break;
  }
  info.HasAlphaMask = header.BitCount >= 16 && header.Compression != BI_RGB && m[3] != 0;
  if (!PictureSizeAllowed(static_cast<std::uint64_t>(header.Width), static_cast<std::uint64_t>(header.Height), depth))
    Invalid();

  bitmap.FreeImage();
  bitmap.SetPixelFormat(depth);
  if (header.BitCount <= 8) bitmap.SetPalette(std::move(palette));
  bitmap.SetSize(static_cast<int>(header.Width), static_cast<int>(header.Height));

  if (header.Compression == BI_RLE8 || header.Compression == BI_RLE4)
    ReadRunLengthRows(header, bitmap);
  else if (direct)
    ReadRows(header, bitmap);
  else
    ReadBitFieldRows(header, bitmap);
  return info;
}

// Rows stored as the bitmap stores them: the whole block when the file is bottom-up, else
// row by row. Only the last row may lack its padding.
void TDibReader::ReadRows(const TDibHeader& header, TBitmap& bitmap) {
  const int height = bitmap.Height();
  const std::size_t rowBytes = bitmap.BytesPerRow();
  const std::size_t usedBytes = (static_cast<std::size_t>(bitmap.Width()) * header.BitCount + 7) / 8;
  if (!header.TopDown) {
    const std::size_t total = rowBytes * static_cast<std::size_t>(height);
    std::uint8_t* block = bitmap.ScanLine(height - 1);
    const std::int64_t got = stream_.Read(block, static_cast<std::int64_t>(total));
    if (static_cast<std::size_t>(got) < total - rowBytes + usedBytes) throw EReadError();
    return;
  }
  for (int y = 0; y < height; ++y) {
    const std::int64_t got = stream_.Read(bitmap.ScanLine(y), static_cast<std::int64_t>(rowBytes));
    const std::size_t needed = y == height - 1 ? usedBytes : rowBytes;
    if (static_cast<std::size_t>(got) < needed) throw EReadError();
  }
}

// One channel of a bit-field pixel: where its mask starts and how many bits it has.
struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;

  explicit TChannel(std::uint32_t mask) : Mask(mask) {
    if (mask == 0) return;
    Shift = std::countr_zero(mask);
    Bits = 32 - std::countl_zero(mask >> Shift);
  }
  std::uint8_t Extract(std::uint32_t pixel) const {
    if (Bits == 0) return 0;
    const std::uint64_t value = (pixel & Mask) >> Shift;
    if (Bits >= 8) return static_cast<std::uint8_t>(value >> (Bits - 8));
    const std::uint64_t maximum = (std::uint64_t{1} << Bits) - 1;
    return static_cast<std::uint8_t>((value * 255 + maximum / 2) / maximum);
  }
};

void TDibReader::ReadBitFieldRows(const TDibHeader& header, TBitmap& bitmap) {
  const TChannel red(header.Masks[0]), green(header.Masks[1]), blue(header.Masks[2]), alpha(header.Masks[3]);
  const int width = bitmap.Width(), height = bitmap.Height();
  const int pixelBytes = header.BitCount / 8;
  std::vector<std::uint8_t> raw(bitmap.BytesPerRow());  // a file row is never longer than a 32-bit row
  const std::size_t fileRowBytes = (static_cast<std::size_t>(width) * header.BitCount + 31) / 32 * 4;
  for (int fileRow = 0; fileRow < height; ++fileRow) {
    const std::size_t needed = fileRow == height - 1 ? static_cast<std::size_t>(width) * pixelBytes : fileRowBytes;
    if (static_cast<std::size_t>(stream_.Read(raw.data(), static_cast<std::int64_t>(fileRowBytes))) < needed)
      throw EReadError();
    std::uint8_t* out = bitmap.ScanLine(header.TopDown ? fileRow : height - 1 - fileRow);
    for (int x = 0; x < width; ++x, out += 4) {
      const std::uint32_t pixel = pixelBytes == 2 ? LoadLE16(&raw[2 * x]) : LoadLE32(&raw[4 * x]);
      out[0] = blue.Extract(pixel);
      out[1] = green.Extract(pixel);
      out[2] = red.Extract(pixel);
      out[3] = alpha.Extract(pixel);
    }
  }
}

// Reads a stream a block at a time; the run-length decoder takes it byte by byte and stops
// where the data ends.
class TByteSource {
 public:
  explicit TByteSource(TStream& stream) : stream_(stream) {}
  bool Next(std::uint8_t& byte) {
    if (index_ == count_) {
      count_ = static_cast<std::size_t>(stream_.Read(buffer_.data(), static_cast<std::int64_t>(buffer_.size())));
      index_ = 0;
      if (count_ == 0) return false;
    }
    byte = buffer_[index_++];
    return true;
  }

 private:
  TStream& stream_;
  std::array<std::uint8_t, 65536> buffer_;
  std::size_t index_ = 0;
  std::size_t count_ = 0;
};

// Pixels the data never sets (skipped by a delta or an early end of line) keep index 0. Data
// that ends early leaves the rest of the picture at index 0 as well; runs that reach past the
// end of a row are cut there.
void TDibReader::ReadRunLengthRows(const TDibHeader& header, TBitmap& bitmap) {
  const int width = bitmap.Width(), height = bitmap.Height();
  std::memset(bitmap.ScanLine(height - 1), 0, bitmap.BytesPerRow() * static_cast<std::size_t>(height));
  const bool four = header.Compression == BI_RLE4;
  auto source = std::make_unique<TByteSource>(stream_);
  std::int64_t x = 0, fileRow = 0;
  std::uint8_t* row = bitmap.ScanLine(header.TopDown ? 0 : height - 1);
  auto setRow = [&] {
    if (fileRow < height) row = bitmap.ScanLine(static_cast<int>(header.TopDown ? fileRow : height - 1 - fileRow));
  };
  auto put = [&](std::uint8_t index) {
    if (x < width) {
      if (four) {
        std::uint8_t& byte = row[x >> 1];
        byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | (index & 0x0F))
                       : static_cast<std::uint8_t>((byte & 0x0F) | index << 4);
      } else {
        row[x] = index;
      }
    }
    ++x;
  };
  std::uint8_t count, value;
  while (fileRow < height && source->Next(count) && source->Next(value)) {
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++fileRow;
      setRow();
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta: move right and up (later rows)
      std::uint8_t dx, dy;
      if (!source->Next(dx) || !source->Next(dy)) break;
      x += dx;
      fileRow += dy;
      setRow();
    } else {  // a literal run of `value` pixels, padded to a 16-bit boundary
      const int bytes = four ? (value + 1) / 2 : value;
      std::uint8_t byte = 0;
      bool ended = false;
      for (int i = 0; i < value && !ended; ++i) {
        if (four) {
          if (!(i & 1) && !source->Next(byte)) ended = true;
          if (!ended) put((i & 1) ? byte & 0x0F : byte >> 4);
        } else {
          if (!source->Next(byte)) ended = true;
          if (!ended) put(byte);
        }
      }
      if (ended) break;
      if (bytes & 1) source->Next(byte);
    }
  }
}

}  // namespace

void ReadBitmapFile(TStream& stream, TBitmap& bitmap, const std::string& formatName) {
  TDibReader reader(stream, formatName);
  const std::int64_t base = stream.Position();
  std::uint8_t start[FileHeaderSize];
  stream.ReadBuffer(start, 2);
  std::int64_t pixelOffset = -1;
  if (start[0] == 'B' && start[1] == 'M') {
    stream.ReadBuffer(start + 2, FileHeaderSize - 2);
    pixelOffset = LoadLE32(start + 10);
  } else {
    // A packed bitmap without file header: the info header comes first.
    stream.SetPosition(base);
  }
  const TDibHeader header = reader.ReadHeader(false);
  std::vector<TRGBQuad> palette = reader.ReadColorTable(header);
  if (pixelOffset >= 0) {
    const std::int64_t headersEnd = FileHeaderSize + header.Size + header.MaskBytesAfterHeader;
    if (pixelOffset < headersEnd) reader.Invalid();
    stream.SetPosition(base + pixelOffset);
    if (stream.Position() != base + pixelOffset) throw EReadError();
  }
  reader.ReadPixels(header, std::move(palette), bitmap);
}

TDibInfo ReadIconImage(TStream& stream, TBitmap& bitmap, const std::string& formatName) {
  TDibReader reader(stream, formatName);
  const TDibHeader header = reader.ReadHeader(true);
  std::vector<TRGBQuad> palette = reader.ReadColorTable(header);
  return reader.ReadPixels(header, std::move(palette), bitmap);
}

void WriteBitmapFile(TStream& stream, const TBitmap& bitmap) {
  TPixelDepth depth = bitmap.PixelFormat() == pdDevice ? pd32Bit : bitmap.PixelFormat();
  const int bits = BitsPerPixelOf(depth);
  const std::uint32_t colors = bits <= 8 ? static_cast<std::uint32_t>(
                                               std::min<std::size_t>(bitmap.Palette().size(), std::size_t{1} << bits))
                                         : 0;
  const std::uint32_t maskBytes = depth == pd16Bit ? 12 : 0;
  const std::uint32_t imageBytes = static_cast<std::uint32_t>(bitmap.BytesPerRow() * static_cast<std::size_t>(bitmap.Height()));
  const std::uint32_t offset = FileHeaderSize + InfoHeaderSize + maskBytes + colors * 4;

  std::vector<std::uint8_t> head(offset, 0);
  head[0] = 'B';
  head[1] = 'M';
  StoreLE32(&head[2], offset + imageBytes);
  StoreLE32(&head[10], offset);
  std::uint8_t* info = &head[FileHeaderSize];
  StoreLE32(info, InfoHeaderSize);
  StoreLE32(info + 4, static_cast<std::uint32_t>(bitmap.Width()));
  StoreLE32(info + 8, static_cast<std::uint32_t>(bitmap.Height()));
  StoreLE16(info + 12, 1);
  StoreLE16(info + 14, static_cast<std::uint32_t>(bits));
  StoreLE32(info + 16, depth == pd16Bit ? BI_BITFIELDS : BI_RGB);
  StoreLE32(info + 20, imageBytes);
  StoreLE32(info + 24, 3780);  // 96 dots per inch, in dots per metre
  StoreLE32(info + 28, 3780);
  StoreLE32(info + 32, colors);
  std::uint8_t* after = info + InfoHeaderSize;
  if (depth == pd16Bit) {
    StoreLE32(after, 0xF800);
    StoreLE32(after + 4, 0x07E0);
    StoreLE32(after + 8, 0x001F);
    after += 12;
  }
  for (std::uint32_t i = 0; i < colors; ++i, after += 4) {
    const TRGBQuad& entry = bitmap.Palette()[i];
    after[0] = entry.Blue;
    after[1] = entry.Green;
    after[2] = entry.Red;
  }
  stream.WriteBuffer(head.data(), static_cast<std::int64_t>(head.size()));
  if (imageBytes) stream.WriteBuffer(bitmap.ScanLine(bitmap.Height() - 1), imageBytes);
}

}  // namespace driftpost
