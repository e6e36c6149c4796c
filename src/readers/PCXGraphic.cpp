#include "readers/PCXGraphic.h"

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

struct TPCXHeader {
  static constexpr std::size_t Size = 128;

  std::uint8_t Manufacturer;
  std::uint8_t Version;
  std::uint8_t Encoding;      // 1: run-length packed
  std::uint8_t BitsPerPixel;  // in one plane
  std::uint16_t XMin, YMin, XMax, YMax;
  std::uint16_t XResolution, YResolution;
  std::array<std::uint8_t, 48> Palette;  // 16 entries of red, green, blue
  std::uint8_t Planes;
  std::uint16_t BytesPerLine;  // of one plane
  std::uint16_t PaletteInfo;   // 2: grey

  static TPCXHeader Read(TStream& stream) {
    const auto bytes = ReadHeaderBytes<Size>(stream);
    TPCXHeader header{bytes[0],
                      bytes[1],
                      bytes[2],
                      bytes[3],
                      LoadLE16(&bytes[4]),
                      LoadLE16(&bytes[6]),
                      LoadLE16(&bytes[8]),
                      LoadLE16(&bytes[10]),
                      LoadLE16(&bytes[12]),
                      LoadLE16(&bytes[14]),
                      {},
                      bytes[65],
                      LoadLE16(&bytes[66]),
                      LoadLE16(&bytes[68])};
    std::copy(&bytes[16], &bytes[64], header.Palette.begin());
    return header;
  }

  int Width() const { return XMax - XMin + 1; }
  int Height() const { return YMax - YMin + 1; }
  std::size_t RowBytes() const { return std::size_t{Planes} * BytesPerLine; }

  // A picture of at least one pixel whose stored rows hold all of its pixels.
  bool Valid() const {
    if (Manufacturer != 10 && Manufacturer != 205) return false;
    if (Width() <= 0 || Height() <= 0 || Planes == 0) return false;
    return std::uint64_t{BytesPerLine} * 8 >= std::uint64_t(Width()) * BitsPerPixel;
  }
};

// How the planes of a row make pixels.
enum class TPCXLayout {
  Indices,       // one plane of 1, 4 or 8-bit indices
  TwoBitIndices, // one plane of 2-bit indices, widened to 4 bits
  BitPlanes,     // two to four 1-bit planes, merged into 4-bit indices
  RGB,           // three 8-bit planes
  RGBA,          // four 8-bit planes
  Unsupported,
};

TPCXLayout LayoutOf(const TPCXHeader& header) {
  const unsigned planes = header.Planes, bits = header.BitsPerPixel;
  if (planes == 1 && (bits == 1 || bits == 4 || bits == 8)) return TPCXLayout::Indices;
  if (planes == 1 && bits == 2) return TPCXLayout::TwoBitIndices;
  if (planes >= 2 && planes <= 4 && bits == 1) return TPCXLayout::BitPlanes;
  if (planes == 3 && bits == 8) return TPCXLayout::RGB;
  if (planes == 4 && bits == 8) return TPCXLayout::RGBA;
  return TPCXLayout::Unsupported;
}

// What a pixel value of fewer than 4 bits becomes once widened to a 4-bit index: itself,
// or with the grey palette of 16 levels a level spread over all of them (2 bits give 0, 5,
// 10 and 15), so that the brightest value stays white.
using TWidenedIndices = std::array<std::uint8_t, 16>;

TWidenedIndices WidenedIndices(unsigned bitsPerPixel, bool greyLevels) {
  TWidenedIndices indices{};
  const unsigned top = (1u << std::min(bitsPerPixel, 4u)) - 1;
  for (unsigned value = 0; value <= top; ++value)
    indices[value] = static_cast<std::uint8_t>(greyLevels ? value * 15 / top : value);
  return indices;
}

// Pixel x of a row of 4-bit indices, high nibble first.
void PutNibble(std::uint8_t* row, int x, unsigned value) {
  std::uint8_t& byte = row[x / 2];
  byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | value) : static_cast<std::uint8_t>((byte & 0x0F) | value << 4);
}

void MergeBitPlanes(const std::uint8_t* row, unsigned planes, std::size_t bytesPerLine, int width,
                    const TWidenedIndices& indices, std::uint8_t* out) {
  for (int x = 0; x < width; ++x) {
    const std::size_t byte = static_cast<std::size_t>(x) / 8;
    const unsigned shift = 7u - static_cast<unsigned>(x) % 8u;
    unsigned value = 0;
    for (unsigned plane = 0; plane < planes; ++plane) value |= (row[plane * bytesPerLine + byte] >> shift & 1u) << plane;
    PutNibble(out, x, indices[value]);
  }
}

void WidenTwoBitIndices(const std::uint8_t* row, int width, const TWidenedIndices& indices, std::uint8_t* out) {
  for (int x = 0; x < width; ++x) {
    const unsigned shift = 6u - 2u * (static_cast<unsigned>(x) % 4u);
    PutNibble(out, x, indices[row[x / 4] >> shift & 3u]);
  }
}

}  // namespace

bool TPCXGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TPCXHeader::Size)) return false;
  const TPCXHeader header = TPCXHeader::Read(stream);
  const bool version = header.Version == 0 || header.Version == 2 || header.Version == 3 || header.Version == 5;
  return (header.Manufacturer == 10 || header.Manufacturer == 12) && version && header.Encoding <= 1;
}

bool TPCXGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  const TPCXHeader header = TPCXHeader::Read(stream);
  if (!header.Valid()) return false;
  TImageProperties& properties = imageProperties_;
  properties.Width = static_cast<std::uint32_t>(header.Width());
  properties.Height = static_cast<std::uint32_t>(header.Height());
  properties.SamplesPerPixel = header.Planes;
  properties.BitsPerSample = header.BitsPerPixel;
  properties.BitsPerPixel = static_cast<std::uint8_t>(header.Planes * header.BitsPerPixel);
  properties.ColorScheme = header.Planes * header.BitsPerPixel > 8 ? cmRGB : cmIndexed;
  properties.Compression = header.Encoding == 1 ? cpRLE : cpNone;
  properties.XResolution = header.XResolution;
  properties.YResolution = header.YResolution;
  return true;
}

void TPCXGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {

  const TPCXHeader header = TPCXHeader::Read(stream);
  const TPCXLayout layout = LayoutOf(header);
  if (layout == TPCXLayout::Unsupported) GraphicExError(InvalidColorFormatMessage, {"PCX"});

  // The colour manager describes the layout the rows are decoded into: indices as stored
  // (2-bit indices and bit planes become 4-bit indices first), or planes of 8-bit colour.
  TColorManager& colors = ColorManager();
  colors.SourceFlags = {};
  TPixelDepth depth;
  switch (layout) {
    case TPCXLayout::Indices:
      colors.SetSourceModel(cmIndexed);
      colors.SetTargetModel(cmIndexed);
      colors.SetSourceBits(header.BitsPerPixel);
      colors.SetTargetBits(header.BitsPerPixel);
      colors.SetSourceSamples(1);
      colors.SetTargetSamples(1);
      depth = colors.BitmapDepth(TColorSide::Target);
      break;
    case TPCXLayout::TwoBitIndices:
    case TPCXLayout::BitPlanes:
      colors.SetTargetModel(cmIndexed);
      colors.SetTargetBits(4);
      colors.SetTargetSamples(1);
      depth = pd4Bit;
      break;
    default:
      colors.SetSourceModel(layout == TPCXLayout::RGBA ? cmRGBA : cmRGB);
      colors.SetTargetModel(layout == TPCXLayout::RGBA ? cmBGRA : cmBGR);
      colors.SetSourceBits(8);
      colors.SetTargetBits(8);
      colors.SetSourceSamples(header.Planes);
      colors.SetTargetSamples(header.Planes);
      depth = colors.BitmapDepth(TColorSide::Target);
      break;
  }
  SetPixelFormat(depth);

  // A 256-colour palette at the end of the file: the byte 12, then 768 bytes of red,
  // green, blue. Only then are those bytes not pixel data.
  const std::int64_t streamSize = stream.Size();
  const std::int64_t dataStart = basePosition_ + static_cast<std::int64_t>(TPCXHeader::Size);
  bool trailingPalette = false;
  std::vector<std::uint8_t> palette256;
  if (depth == pd8Bit && streamSize - 769 >= dataStart) {
    stream.SetPosition(streamSize - 769);
    std::uint8_t marker = 0;
    stream.ReadBuffer(&marker, 1);
    if (marker == 12) {
      palette256.resize(768);
      stream.ReadBuffer(palette256.data(), 768);
      trailingPalette = true;
    }
    stream.SetPosition(dataStart);
  }

  bool greyPalette = false;
  if (depth != pd24Bit && depth != pd32Bit) {
    if (header.Version == 3 && depth != pd1Bit) {
      SetPalette(DefaultPalette(pd4Bit));
    } else if (depth == pd1Bit || (header.PaletteInfo == 2 && !trailingPalette)) {
      SetPalette(colors.BuildGrayPalette(false));
      greyPalette = true;
    } else if (depth == pd4Bit) {
      const std::uint8_t* data[] = {header.Palette.data()};
      SetPalette(colors.BuildPalette(data, plInterleaved8Triple, 16, false));
    } else if (trailingPalette) {
      const std::uint8_t* data[] = {palette256.data()};
      SetPalette(colors.BuildPalette(data, plInterleaved8Triple, 256, false));
    }
  }

  const int width = header.Width(), height = header.Height();
  CheckImageSize(width, height);
  // The stored rows may be much longer than the pixels need; they are held whole, so they
  // must fit the picture limits too.
  const std::size_t rowBytes = header.RowBytes();
  const auto total = CheckedProduct(rowBytes, static_cast<std::size_t>(height));
  if (!total || *total > PictureLimits().MaxBytes || *total > INT32_MAX) RaiseInvalidImage();
  SetSize(width, height);

  std::vector<std::uint8_t> rows(*total);
  const std::int64_t dataEnd = streamSize - (trailingPalette ? 769 : 0);
  const std::int64_t available = std::max<std::int64_t>(dataEnd - dataStart, 0);
  if (header.Encoding == 1) {
    // Every packed byte yields at least one byte every two bytes, so more is never needed.
    const std::int64_t wanted = std::min<std::int64_t>({available, 2 * static_cast<std::int64_t>(*total), INT32_MAX});
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(wanted));
    stream.ReadBuffer(packed.data(), wanted);
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = rows.data();
    TPCXRLEDecoder().Decode(source, dest, static_cast<std::int32_t>(wanted), static_cast<std::int32_t>(*total),
                            *total);
  } else {
    if (available < static_cast<std::int64_t>(*total)) throw EReadError();
    stream.ReadBuffer(rows.data(), static_cast<std::int64_t>(*total));
  }

  // Only the layouts widened to 4 bits use these.
  const TWidenedIndices widened = WidenedIndices(header.Planes * header.BitsPerPixel, greyPalette);
  progress.BeginRows(width);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = rows.data() + static_cast<std::size_t>(y) * rowBytes;
    std::uint8_t* out = ScanLine(y);
    switch (layout) {
      case TPCXLayout::BitPlanes:
        MergeBitPlanes(row, header.Planes, header.BytesPerLine, width, widened, out);
        break;
      case TPCXLayout::TwoBitIndices:
        WidenTwoBitIndices(row, width, widened, out);
        break;
      case TPCXLayout::RGB:
      case TPCXLayout::RGBA: {
        const std::uint8_t* planes[4] = {};
        for (unsigned plane = 0; plane < header.Planes; ++plane) planes[plane] = row + plane * header.BytesPerLine;
        colors.TranslateRow(std::span<const std::uint8_t* const>(planes, header.Planes), out,
                            static_cast<std::uint32_t>(width));
        break;
      }
      default:
        colors.TranslateRow(row, out, static_cast<std::uint32_t>(width));
        break;
    }
    progress.RowDone(y, height);
  }
}

}  // namespace driftpost
