#include "readers/RLAGraphic.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "picture/ColorManager.h"
#include "platform/TextUtils.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

struct TRLAHeader {
  static constexpr std::size_t Size = 740;

  std::int16_t ActiveLeft, ActiveRight, ActiveBottom, ActiveTop;
  std::uint16_t ColorChannels, MatteChannels, Revision;
  std::string Gamma;
  std::string ChannelKind;  // "rgb" or "xyz"
  std::uint16_t BitsPerChannel, MatteBits;

  static TRLAHeader Read(TStream& stream) {
    const auto bytes = ReadHeaderBytes<Size>(stream);
    auto signed16 = [&](std::size_t at) { return static_cast<std::int16_t>(LoadBE16(&bytes[at])); };
    return TRLAHeader{signed16(8),          signed16(10),         signed16(12),
                      signed16(14),         LoadBE16(&bytes[20]), LoadBE16(&bytes[22]),
                      LoadBE16(&bytes[26]), HeaderText(&bytes[28], 16), HeaderText(&bytes[580], 32),
                      LoadBE16(&bytes[658]), LoadBE16(&bytes[662])};
  }

  int Width() const { return ActiveRight - ActiveLeft + 1; }
  int Height() const { return std::abs(ActiveBottom - ActiveTop) + 1; }
  bool BottomUp() const { return ActiveBottom < ActiveTop; }
  // The matte channel is shown as alpha when there is exactly one.
  bool HasAlpha() const { return MatteChannels == 1; }
  std::string Kind() const { return LowerCase(Trim(ChannelKind)); }

  bool Valid() const {
    const std::string kind = Kind();
    return (kind == "rgb" || kind == "xyz") && ColorChannels == 3 && BitsPerChannel == 8 &&
           (!HasAlpha() || MatteBits <= 8) && Width() > 0;
  }
};

// The gamma text as a number; 1.0 when it is none.
float GammaOf(const std::string& text) {
  const std::string trimmed = Trim(text);
  float value = 1.0f;
  const auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  if (error != std::errc() || end != trimmed.data() + trimmed.size() || trimmed.empty() || !std::isfinite(value))
    return 1.0f;
  return value;
}

}  // namespace

bool TRLAGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TRLAHeader::Size)) return false;
  const TRLAHeader header = TRLAHeader::Read(stream);
  return header.Revision == 0xFFFE && header.Valid();
}

bool TRLAGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  const TRLAHeader header = TRLAHeader::Read(stream);
  if (!header.Valid()) return false;
  TImageProperties& properties = imageProperties_;
  properties.Options = opBigEndian;
  properties.SamplesPerPixel = static_cast<std::uint8_t>(header.ColorChannels + (header.HasAlpha() ? 1 : 0));
  properties.BitsPerSample = static_cast<std::uint8_t>(header.BitsPerChannel);
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.SamplesPerPixel * properties.BitsPerSample);
  properties.ColorScheme = header.Kind() == "rgb" ? (header.HasAlpha() ? cmRGBA : cmRGB) : cmUnknown;
  properties.FileGamma = GammaOf(header.Gamma);
  properties.Compression = cpRLE;
  properties.Width = static_cast<std::uint32_t>(header.Width());
  properties.Height = static_cast<std::uint32_t>(header.Height());
  properties.BottomUp = header.BottomUp();
  return true;
}

void TRLAGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  TImageProperties& properties = imageProperties_;
  const TRLAHeader header = TRLAHeader::Read(stream);
  const int width = header.Width(), height = header.Height();
  progress.BeginRows(width);

  TColorManager& colors = ColorManager();
  colors.SourceFlags = {};
  colors.TargetFlags = {};
  colors.SetSourceSamples(properties.SamplesPerPixel);
  colors.SetTargetSamples(properties.SamplesPerPixel);
  colors.SetSourceBits(properties.BitsPerSample);
  colors.SetTargetBits(std::min<unsigned>(properties.BitsPerSample, 8));
  colors.SetSourceModel(properties.ColorScheme);
  colors.SetTargetModel(properties.ColorScheme == cmRGBA ? cmBGRA : cmBGR);
  // The file states the gamma its samples were encoded for: 2.2, the usual one, is what
  // the display shows them with, so only another value corrects them. A value that is no
  // gamma (0 or less) states none.
  if (properties.FileGamma != 1.0f && properties.FileGamma > 0) {
    colors.SetGammaValues(1.0f / properties.FileGamma, 2.2f);
    colors.TargetFlags.Include(cfGammaCorrect);
    properties.Options |= opGammaApplied;
  }
  SetPixelFormat(colors.BitmapDepth(TColorSide::Target));
  CheckImageSize(width, height);
  SetSize(width, height);

  // The offsets of the rows, from the start of the file, follow the header.
  const std::size_t rowCount = static_cast<std::size_t>(height);
  if (BytesLeft(stream) < static_cast<std::int64_t>(rowCount * 4)) throw EReadError();
  std::vector<std::uint8_t> table(rowCount * 4);
  stream.ReadBuffer(table.data(), static_cast<std::int64_t>(table.size()));
  const std::int64_t streamSize = stream.Size();

  const unsigned channels = colors.TargetModel() == cmBGRA ? 4 : 3;
  std::vector<std::vector<std::uint8_t>> buffers(channels, std::vector<std::uint8_t>(static_cast<std::size_t>(width)));
  const std::uint8_t* planes[4] = {};
  for (unsigned c = 0; c < channels; ++c) planes[c] = buffers[c].data();
  std::vector<std::uint8_t> packed(65535);
  TRLADecoder decoder;

  for (int r = 0; r < height; ++r) {
    const std::int64_t offset = basePosition_ + LoadBE32(&table[4 * static_cast<std::size_t>(r)]);
    if (offset >= streamSize) RaiseInvalidImage();
    stream.SetPosition(offset);
    for (unsigned c = 0; c < channels; ++c) {
      std::uint8_t length[2];
      stream.ReadBuffer(length, 2);
      const std::uint16_t packedSize = LoadBE16(length);
      stream.ReadBuffer(packed.data(), packedSize);
      std::fill(buffers[c].begin(), buffers[c].end(), 0);
      std::uint8_t* source = packed.data();
      std::uint8_t* dest = buffers[c].data();
      decoder.Decode(source, dest, packedSize, width, buffers[c].size());
    }
    const int row = header.BottomUp() ? height - 1 - r : r;
    colors.TranslateRow(std::span<const std::uint8_t* const>(planes, channels), ScanLine(row),
                        static_cast<std::uint32_t>(width));
    progress.RowDone(r, height);
  }
}

}  // namespace driftpost
