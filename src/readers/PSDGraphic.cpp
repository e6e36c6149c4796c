#include "readers/PSDGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

enum TPSDColorMode : std::uint16_t {
  pmBitmap = 0,
  pmGray = 1,
  pmIndexed = 2,
  pmRGB = 3,
  pmCMYK = 4,
  pmMultichannel = 7,
  pmDuotone = 8,
  pmLab = 9,
};

enum TPSDCompression : std::uint16_t { pcRaw = 0, pcPackBits = 1 };

struct TPSDHeader {
  static constexpr std::size_t Size = 26;

  std::array<std::uint8_t, 4> Signature;  // "8BPS"
  std::uint16_t Version;                  // 1; 2 is the large document format, read otherwise
  std::uint16_t Channels;
  std::uint32_t Height;
  std::uint32_t Width;
  std::uint16_t Depth;  // bits per channel
  std::uint16_t Mode;   // TPSDColorMode

  static TPSDHeader Parse(const std::array<std::uint8_t, Size>& bytes) {
    // Bytes 6 to 11 are reserved.
    return TPSDHeader{{bytes[0], bytes[1], bytes[2], bytes[3]},
                      LoadBE16(&bytes[4]),
                      LoadBE16(&bytes[12]),
                      LoadBE32(&bytes[14]),
                      LoadBE32(&bytes[18]),
                      LoadBE16(&bytes[22]),
                      LoadBE16(&bytes[24])};
  }

  static TPSDHeader Read(TStream& stream) { return Parse(ReadHeaderBytes<Size>(stream)); }

  // How the merged image is shown. Duotone shows its grey levels; multichannel shows its
  // first three channels as RGB (and a fourth as alpha), or its first channel as grey when
  // it has fewer than three.
  TColorModel Scheme() const {
    switch (Mode) {
      case pmBitmap:
      case pmGray:
      case pmDuotone:
        return cmGray;
      case pmIndexed:
        return cmIndexed;
      case pmRGB:
        return Channels == 3 ? cmRGB : cmRGBA;
      case pmMultichannel:
        return Channels < 3 ? cmGray : Channels == 3 ? cmRGB : cmRGBA;
      case pmCMYK:
        return cmCMYK;
      case pmLab:
        return cmLab;
      default:
        return cmUnknown;
    }
  }

  // The channels shown, always the first ones stored; the others are ignored.
  unsigned Samples() const {
    switch (Scheme()) {
      case cmGray:
      case cmIndexed:
        return 1;
      case cmRGB:
      case cmLab:
        return 3;
      default:
        return 4;
    }
  }

  bool Valid() const {
    if (std::memcmp(Signature.data(), "8BPS", 4) != 0 || Version != 1) return false;
    if (Width == 0 || Height == 0 || Channels == 0 || Channels > 56) return false;
    const bool depthFits = Mode == pmBitmap ? Depth == 1 : Depth == 8 || Depth == 16;
    return depthFits && Scheme() != cmUnknown && Channels >= Samples();
  }
};

// Where the parts that follow the header lie.
struct TPSDSections {
  std::int64_t ColorData;  // the colour mode data (an indexed picture's palette)
  std::uint32_t ColorDataLength;
  std::uint16_t Compression;  // of the merged image: TPSDCompression
  std::int64_t ImageData;     // the merged image, after its compression code
};

// Walks the colour mode data, the image resources and the layer and mask information by
// their lengths, from the end of the header, and reads the compression code after them.
// Nothing when a section runs past the end of the file.
std::optional<TPSDSections> ReadSections(TStream& stream) {
  TPSDSections sections{};
  for (int section = 0; section < 3; ++section) {
    if (BytesLeft(stream) < 4) return std::nullopt;
    const std::uint32_t length = LoadBE32(ReadHeaderBytes<4>(stream).data());
    if (section == 0) {
      sections.ColorData = stream.Position();
      sections.ColorDataLength = length;
    }
    if (length > BytesLeft(stream)) return std::nullopt;
    stream.Seek(length, TSeekOrigin::soCurrent);
  }
  if (BytesLeft(stream) < 2) return std::nullopt;
  sections.Compression = LoadBE16(ReadHeaderBytes<2>(stream).data());
  sections.ImageData = stream.Position();
  return sections;
}

TColorModel TargetModelOf(TColorModel scheme) {
  switch (scheme) {
    case cmIndexed:
    case cmGray:
      return scheme;
    case cmRGBA:
      return cmBGRA;
    default:
      return cmBGR;
  }
}

// An indexed picture's palette: the colour mode data holds a plane of red, one of green
// and one of blue values, each a third of the data.
TPalette ReadPalette(TStream& stream, const TPSDSections& sections, const TColorManager& colors) {
  const std::uint32_t perPlane = sections.ColorDataLength / 3;
  const std::uint32_t count = std::min<std::uint32_t>(perPlane, 256);
  std::vector<std::uint8_t> planes(3 * std::size_t{count});
  for (std::uint32_t plane = 0; plane < 3; ++plane) {
    stream.SetPosition(sections.ColorData + std::int64_t{plane} * perPlane);
    stream.ReadBuffer(&planes[plane * count], count);
  }
  const std::uint8_t* data[] = {planes.data(), planes.data() + count, planes.data() + 2 * count};
  return colors.BuildPalette(data, plPlanar8Triple, count, false);
}

// The shape of the planes read: `Count` planes of `Height` rows of `RowBytes` bytes, one
// after another.
struct TPlaneShape {
  std::size_t Count;
  std::size_t Height;
  std::size_t RowBytes;
  std::size_t PlaneBytes() const { return Height * RowBytes; }
  std::size_t Bytes() const { return Count * PlaneBytes(); }
};

// PackBits rows: a table of 16-bit byte counts (every channel's rows, channel by channel)
// precedes the packed rows. The planes shown are the first channels, so their rows are the
// first packed bytes. Refuses counts that reach past the file, and counts too small to hold
// the rows they claim (a packet of two bytes yields at most 128), before allocating the
// planes, so that a small file cannot claim a large picture.
std::vector<std::uint8_t> UnpackPlanes(TStream& stream, const TPSDHeader& header, const TPlaneShape& shape,
                                       const TBitmap& picture) {
  const std::size_t rows = std::size_t{header.Height} * header.Channels;
  if (rows > static_cast<std::size_t>(BytesLeft(stream)) / 2) picture.RaiseInvalidImage();
  std::vector<std::uint8_t> counts(2 * rows);
  stream.ReadBuffer(counts.data(), static_cast<std::int64_t>(counts.size()));
  const std::size_t shownRows = shape.Count * shape.Height;
  std::size_t packedBytes = 0;
  for (std::size_t row = 0; row < shownRows; ++row) packedBytes += LoadBE16(&counts[2 * row]);
  if (packedBytes > static_cast<std::size_t>(BytesLeft(stream)) || shape.Bytes() / 64 > packedBytes)
    picture.RaiseInvalidImage();

  std::vector<std::uint8_t> packed(packedBytes);
  stream.ReadBuffer(packed.data(), static_cast<std::int64_t>(packed.size()));
  std::vector<std::uint8_t> planes(shape.Bytes());
  TPackbitsRLEDecoder decoder;
  std::size_t at = 0;
  for (std::size_t row = 0; row < shownRows; ++row) {
    const std::uint16_t count = LoadBE16(&counts[2 * row]);
    std::uint8_t* source = packed.data() + at;
    std::uint8_t* dest = planes.data() + row * shape.RowBytes;
    decoder.Decode(source, dest, count, static_cast<std::int32_t>(shape.RowBytes), shape.RowBytes);
    at += count;
  }
  return planes;
}

std::vector<std::uint8_t> ReadPlainPlanes(TStream& stream, const TPlaneShape& shape) {
  if (shape.Bytes() > static_cast<std::size_t>(BytesLeft(stream))) throw EReadError();
  std::vector<std::uint8_t> planes(shape.Bytes());
  stream.ReadBuffer(planes.data(), static_cast<std::int64_t>(planes.size()));
  return planes;
}

// 16-bit samples (big-endian) to 8 bits where the colour manager has no 16-bit rule that
// fits: Lab keeps the high byte (which keeps a and b centred on 128), an index keeps its
// value, capped at the last palette entry.
void NarrowSamples(std::vector<std::uint8_t>& planes, TPlaneShape& shape, TColorModel scheme) {
  const std::size_t values = planes.size() / 2;
  for (std::size_t i = 0; i < values; ++i) {
    const std::uint8_t high = planes[2 * i];
    const std::uint8_t low = planes[2 * i + 1];
    planes[i] = scheme == cmIndexed ? (high != 0 ? 255 : low) : high;
  }
  planes.resize(values);
  shape.RowBytes /= 2;
}

}  // namespace

bool TPSDGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TPSDHeader::Size)) return false;
  return TPSDHeader::Read(stream).Valid();
}

bool TPSDGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  if (BytesLeft(stream) < static_cast<std::int64_t>(TPSDHeader::Size)) return false;
  const TPSDHeader header = TPSDHeader::Read(stream);
  if (!header.Valid()) return false;
  const std::optional<TPSDSections> sections = ReadSections(stream);
  if (!sections) return false;

  TImageProperties& properties = imageProperties_;
  properties.Version = header.Version;
  properties.Options = opBigEndian;
  if (header.Mode == pmBitmap) properties.Options |= opMinIsWhite;
  properties.Width = header.Width;
  properties.Height = header.Height;
  properties.BitsPerSample = static_cast<std::uint8_t>(header.Depth);
  properties.Channels = static_cast<std::uint8_t>(header.Channels);
  properties.SamplesPerPixel = static_cast<std::uint8_t>(header.Samples());
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.BitsPerSample * properties.SamplesPerPixel);
  properties.ColorScheme = header.Scheme();
  properties.Compression = sections->Compression == pcPackBits ? cpPackBits
                           : sections->Compression == pcRaw    ? cpNone
                                                               : cpUnknown;
  return true;
}

void TPSDGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  const TPSDHeader header = TPSDHeader::Read(stream);
  const std::optional<TPSDSections> sections = ReadSections(stream);
  if (!sections) RaiseInvalidImage();
  if (sections->Compression != pcRaw && sections->Compression != pcPackBits)
    GraphicExError(UnsupportedFeatureMessage, {UnsupportedCompressionText, ImageFormatName()});

  const TColorModel scheme = header.Scheme();
  const unsigned samples = header.Samples();
  const bool narrowFirst = header.Depth == 16 && (scheme == cmLab || scheme == cmIndexed);
  TColorManager& colors = ColorManager();
  colors.SourceFlags = {cfSwapBytes};
  if (scheme == cmLab) colors.SourceFlags = {cfSwapBytes, cfLabScaledL, cfLabOffsetAB};
  colors.SetSourceBits(narrowFirst ? 8 : header.Depth);
  colors.SetTargetBits(header.Depth == 16 ? 8 : header.Depth);
  colors.SetSourceSamples(samples);
  colors.SetTargetSamples(scheme == cmCMYK ? 3 : samples);
  colors.SetSourceModel(scheme);
  colors.SetTargetModel(TargetModelOf(scheme));
  SetPixelFormat(colors.BitmapDepth(TColorSide::Target));
  if (scheme == cmIndexed) {
    if (sections->ColorDataLength < 3)
      GraphicExError(InvalidPaletteMessage, {ImageFormatName()});
    SetPalette(ReadPalette(stream, *sections, colors));
  } else if (scheme == cmGray) {
    // Bitmap pictures store 0 for white.
    SetPalette(colors.BuildGrayPalette(header.Mode == pmBitmap));
  }

  CheckImageSize(header.Width, header.Height);
  const std::size_t width = header.Width;
  TPlaneShape shape{samples, header.Height, header.Depth == 1 ? (width + 7) / 8 : width * (header.Depth / 8u)};

  progress.Begin("Loading data...");
  stream.SetPosition(sections->ImageData);
  std::vector<std::uint8_t> planes =
      sections->Compression == pcPackBits ? UnpackPlanes(stream, header, shape, *this) : ReadPlainPlanes(stream, shape);
  if (narrowFirst) NarrowSamples(planes, shape, scheme);
  // The format stores CMYK inverted: 0 is full ink.
  if (scheme == cmCMYK)
    for (std::uint8_t& sample : planes) sample = static_cast<std::uint8_t>(~sample);

  const int columns = static_cast<int>(header.Width);
  const int height = static_cast<int>(header.Height);
  SetSize(columns, height);
  progress.BeginRows(columns);
  std::array<const std::uint8_t*, 4> rows{};
  for (int y = 0; y < height; ++y) {
    for (std::size_t plane = 0; plane < samples; ++plane)
      rows[plane] = planes.data() + plane * shape.PlaneBytes() + static_cast<std::size_t>(y) * shape.RowBytes;
    colors.TranslateRow(std::span<const std::uint8_t* const>(rows.data(), samples), ScanLine(y),
                        static_cast<std::uint32_t>(columns));
    progress.RowDone(y, height);
  }
}

}  // namespace driftpost
