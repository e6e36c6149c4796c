#include "readers/AutodeskGraphic.h"

#include "picture/ColorManager.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

struct TAutodeskHeader {
  static constexpr std::size_t Size = 32;

  std::uint16_t Magic;  // 0x9119
  std::uint16_t Width;
  std::uint16_t Height;
  std::uint16_t BitsPerPixel;

  static TAutodeskHeader Read(TStream& stream) {
    const auto bytes = ReadHeaderBytes<Size>(stream);
    return TAutodeskHeader{LoadLE16(&bytes[0]), LoadLE16(&bytes[2]), LoadLE16(&bytes[4]), LoadLE16(&bytes[10])};
  }

  bool Valid() const { return Magic == 0x9119 && BitsPerPixel == 8 && Width > 0 && Height > 0; }
};

}  // namespace

bool TAutodeskGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TAutodeskHeader::Size)) return false;
  return TAutodeskHeader::Read(stream).Valid();
}

bool TAutodeskGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  const TAutodeskHeader header = TAutodeskHeader::Read(stream);
  if (!header.Valid()) return false;
  TImageProperties& properties = imageProperties_;
  properties.Width = header.Width;
  properties.Height = header.Height;
  properties.ColorScheme = cmIndexed;
  properties.BitsPerSample = 8;
  properties.SamplesPerPixel = 1;
  properties.BitsPerPixel = 8;
  properties.Compression = cpNone;
  return true;
}

void TAutodeskGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {

  const TAutodeskHeader header = TAutodeskHeader::Read(stream);
  std::array<std::uint8_t, 768> map;
  stream.ReadBuffer(map.data(), static_cast<std::int64_t>(map.size()));
  // The components are 6-bit values.
  TPalette palette(256);
  for (std::size_t i = 0; i < palette.size(); ++i)
    palette[i] = TPaletteEntry{static_cast<std::uint8_t>(map[3 * i] << 2), static_cast<std::uint8_t>(map[3 * i + 1] << 2),
                               static_cast<std::uint8_t>(map[3 * i + 2] << 2), 0};
  SetPixelFormat(pd8Bit);
  SetPalette(palette);
  CheckImageSize(header.Width, header.Height);
  SetSize(header.Width, header.Height);

  const int height = header.Height;
  progress.BeginRows(header.Width);
  for (int y = 0; y < height; ++y) {
    stream.ReadBuffer(ScanLine(y), header.Width);
    progress.RowDone(y, height);
  }
}

}  // namespace driftpost
