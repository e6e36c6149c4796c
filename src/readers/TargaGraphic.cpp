#include "readers/TargaGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

enum TTargaImageType : std::uint8_t {
  ttNoImage = 0,
  ttColorMapped = 1,
  ttTrueColor = 2,
  ttGray = 3,
  ttPackedColorMapped = 9,
  ttPackedTrueColor = 10,
  ttPackedGray = 11,
};

struct TTargaHeader {
  static constexpr std::size_t Size = 18;

  std::uint8_t IdentificationLength;
  std::uint8_t ColorMapType;  // 0 none, 1 present
  std::uint8_t ImageType;     // TTargaImageType
  std::uint16_t ColorMapLength;
  std::uint8_t ColorMapEntrySize;  // bits
  std::uint16_t Width;
  std::uint16_t Height;
  std::uint8_t PixelSize;   // bits
  std::uint8_t Descriptor;  // bit 5: the first stored row is the top row

  static TTargaHeader Parse(const std::array<std::uint8_t, Size>& bytes) {
    // The first colour map index (3) and the origin (8, 10) are not used.
    return TTargaHeader{bytes[0], bytes[1], bytes[2], LoadLE16(&bytes[5]), bytes[7], LoadLE16(&bytes[12]),
                        LoadLE16(&bytes[14]), bytes[16], bytes[17]};
  }

  static TTargaHeader Read(TStream& stream) { return Parse(ReadHeaderBytes<Size>(stream)); }

  bool Packed() const { return ImageType >= ttPackedColorMapped; }
  bool Gray() const { return ImageType == ttGray || ImageType == ttPackedGray; }
  // Grey pictures of 16 bits per pixel store a grey byte followed by an alpha byte.
  bool GrayAlpha() const { return Gray() && PixelSize == 16; }
  bool TopFirst() const { return Descriptor & 0x20; }
  // Bit 4: the first stored pixel of a row is its rightmost one.
  bool RightToLeft() const { return Descriptor & 0x10; }

  // A header this reader can load: a known image type, pixel size and (when there is a
  // colour map) colour map entry size, and a picture of at least one pixel.
  bool Valid() const {
    const bool knownType = ImageType <= ttGray || (ImageType >= ttPackedColorMapped && ImageType <= ttPackedGray);
    const bool knownMap = ColorMapType == 0 || (ColorMapType == 1 && KnownEntrySize(ColorMapEntrySize));
    return knownType && knownMap && (PixelSize == 8 || KnownEntrySize(PixelSize)) && Width > 0 && Height > 0;
  }

  static bool KnownEntrySize(std::uint8_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }
};

// The colour map's 15- and 16-bit entries: little-endian words of 5 bits each of blue,
// green and red, from the lowest bits up.
// Reverses the order of the `width` pixels of `Bytes` bytes each in `row`.
template <std::size_t Bytes>
void MirrorPixels(std::uint8_t* row, std::size_t width) {
  std::uint8_t* left = row;
  std::uint8_t* right = row + width * Bytes;
  while (right - left >= static_cast<std::ptrdiff_t>(2 * Bytes)) {
    right -= Bytes;
    std::array<std::uint8_t, Bytes> pixel;
    std::memcpy(pixel.data(), left, Bytes);
    std::memcpy(left, right, Bytes);
    std::memcpy(right, pixel.data(), Bytes);
    left += Bytes;
  }
}

void MirrorRow(std::uint8_t* row, std::size_t width, std::size_t pixelBytes) {
  switch (pixelBytes) {
    case 1:
      std::reverse(row, row + width);
      break;
    case 2:
      MirrorPixels<2>(row, width);
      break;
    case 3:
      MirrorPixels<3>(row, width);
      break;
    default:
      MirrorPixels<4>(row, width);
      break;
  }
}

TPalette PaletteFromWords(const std::vector<std::uint8_t>& map, std::size_t count) {
  TPalette palette(std::min<std::size_t>(count, 256));
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const std::uint16_t word = LoadLE16(&map[2 * i]);
    palette[i].Blue = static_cast<std::uint8_t>((word & 0x1F) << 3);
    palette[i].Green = static_cast<std::uint8_t>((word >> 5 & 0x1F) << 3);
    palette[i].Red = static_cast<std::uint8_t>((word >> 10 & 0x1F) << 3);
  }
  return palette;
}

}  // namespace

bool TTargaGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TTargaHeader::Size)) return false;
  return TTargaHeader::Read(stream).Valid();
}

bool TTargaGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  const TTargaHeader header = TTargaHeader::Read(stream);
  TImageProperties& properties = imageProperties_;
  properties.Width = header.Width;
  properties.Height = header.Height;
  properties.BitsPerSample = 8;
  switch (header.PixelSize) {
    case 8:
      properties.ColorScheme = header.Gray() ? cmGray : cmIndexed;
      properties.SamplesPerPixel = 1;
      break;
    case 16:
      if (header.GrayAlpha()) {
        properties.ColorScheme = cmGrayAlpha;
        properties.SamplesPerPixel = 2;
        break;
      }
      [[fallthrough]];
    case 15:
      properties.ColorScheme = cmRGB;
      properties.BitsPerSample = 5;
      properties.SamplesPerPixel = 3;
      break;
    case 24:
      properties.ColorScheme = cmRGB;
      properties.SamplesPerPixel = 3;
      break;
    case 32:
      properties.ColorScheme = cmRGBA;
      properties.SamplesPerPixel = 4;
      break;
    default:
      break;
  }
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.BitsPerSample * properties.SamplesPerPixel);
  properties.Compression = header.Packed() ? cpRLE : cpNone;
  return header.Valid();
}

void TTargaGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  const TTargaHeader header = TTargaHeader::Read(stream);
  stream.Seek(header.IdentificationLength, TSeekOrigin::soCurrent);

  const TImageProperties& properties = imageProperties_;
  TColorManager& colors = ColorManager();
  colors.SetSourceSamples(properties.SamplesPerPixel);
  colors.SetSourceModel(properties.ColorScheme);
  colors.SourceFlags = {};
  colors.SetSourceBits(properties.BitsPerSample);
  colors.SetTargetBits(properties.BitsPerSample);
  // Grey and alpha pairs are shown as their grey levels; every other layout is stored as
  // the bitmap stores it.
  colors.SetTargetSamples(header.GrayAlpha() ? 1 : properties.SamplesPerPixel);
  colors.SetTargetModel(header.GrayAlpha() ? cmGray : cmBGR);
  SetPixelFormat(colors.BitmapDepth(TColorSide::Target));

  // The whole colour map is read to get past it, though a palette holds at most 256 entries
  // and a grey picture uses none of it.
  std::vector<std::uint8_t> map;
  if (header.ColorMapType == 1) {
    map.resize(header.ColorMapLength * ((header.ColorMapEntrySize + 1u) / 8u));
    stream.ReadBuffer(map.data(), static_cast<std::int64_t>(map.size()));
  }
  if (header.Gray()) {
    SetPalette(colors.BuildGrayPalette(false));
  } else if (header.ColorMapType == 1) {
    const std::uint8_t* data[] = {map.data()};
    switch (header.ColorMapEntrySize) {
      case 24:
        SetPalette(colors.BuildPalette(data, plInterleaved8Triple, header.ColorMapLength, true));
        break;
      case 32:
        SetPalette(colors.BuildPalette(data, plInterleaved8Quad, header.ColorMapLength, true));
        break;
      default:
        SetPalette(PaletteFromWords(map, header.ColorMapLength));
        break;
    }
  }

  CheckImageSize(header.Width, header.Height);
  SetSize(header.Width, header.Height);
  const int width = header.Width;
  const int height = header.Height;
  const std::size_t pixelBytes = (header.PixelSize + 1u) / 8u;
  const std::size_t rowSize = static_cast<std::size_t>(width) * pixelBytes;
  progress.BeginRows(width);
  if (header.ImageType == ttNoImage) return;

  // Rows are decoded into the bitmap row, or into a work row when they need converting.
  std::vector<std::uint8_t> work(header.GrayAlpha() ? rowSize : 0);
  const std::size_t bitmapPixelBytes = header.GrayAlpha() ? 1 : pixelBytes;
  auto bitmapRow = [&](int stored) { return ScanLine(header.TopFirst() ? stored : height - 1 - stored); };
  auto decodeTarget = [&](std::uint8_t* row) {
    if (work.empty()) return row;
    // A row the data ends before shows black, not the row before it.
    std::fill(work.begin(), work.end(), 0);
    return work.data();
  };
  auto finishRow = [&](std::uint8_t* row, int stored) {
    if (!work.empty()) colors.TranslateRow(work.data(), row, static_cast<std::uint32_t>(width));
    if (header.RightToLeft()) MirrorRow(row, static_cast<std::size_t>(width), bitmapPixelBytes);
    progress.RowDone(stored, height);
  };

  if (!header.Packed()) {
    for (int i = 0; i < height; ++i) {
      std::uint8_t* row = bitmapRow(i);
      stream.ReadBuffer(decodeTarget(row), static_cast<std::int64_t>(rowSize));
      finishRow(row, i);
    }
    return;
  }
  // A row's packets take at most twice the row's bytes (one header per 1-byte pixel), and
  // the last of them may run up to 127 pixels on into the next row; the decoder keeps those
  // pixels. What a row did not consume is given back to the stream for the next row.
  TTargaRLEDecoder decoder(header.PixelSize);
  std::vector<std::uint8_t> packed(2 * rowSize + 1 + 128 * pixelBytes);
  for (int i = 0; i < height; ++i) {
    const std::int64_t got = stream.Read(packed.data(), static_cast<std::int64_t>(packed.size()));
    std::uint8_t* row = bitmapRow(i);
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = decodeTarget(row);
    decoder.Decode(source, dest, static_cast<std::int32_t>(got), width, rowSize);
    stream.Seek(static_cast<std::int64_t>(source - packed.data()) - got, TSeekOrigin::soCurrent);
    finishRow(row, i);
  }
}

}  // namespace driftpost
