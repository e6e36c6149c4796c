#include "readers/PSPGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "picture/ColorManager.h"
#include "platform/TextUtils.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

enum TPSPBlockId : std::uint16_t {
  pbImageAttributes = 0,
  pbColorPalette = 2,
  pbLayerBank = 3,
  pbLayer = 4,
  pbChannel = 5,
};

enum TPSPCompression : std::uint16_t { pcNone = 0, pcRLE = 1, pcLZ77 = 2, pcJPEG = 3 };

// A channel's bitmap type and channel type.
enum TPSPBitmapType : std::uint16_t { btImage = 0, btTransparencyMask = 1 };
enum TPSPChannelType : std::uint16_t { ctComposite = 0, ctRed = 1, ctGreen = 2, ctBlue = 3 };

// Raster layer types: version 3 calls its raster layers "normal" (0); later versions count
// 0 (undefined) and 1 (raster) as raster layers.
constexpr std::uint8_t kVersion3NormalLayer = 0;
constexpr std::uint8_t kLastRasterLayer = 1;

constexpr std::size_t kVersion3LayerNameSize = 256;
constexpr std::size_t kLayerInfoSize = 115;  // the fixed part after the name
constexpr std::size_t kChannelInfoSize = 12;

struct TPSPFileHeader {
  static constexpr std::size_t Size = 36;

  std::array<std::uint8_t, 32> Signature;  // "Paint Shop Pro Image File\n\x1a", zero-padded
  std::uint16_t Major;
  std::uint16_t Minor;

  static TPSPFileHeader Read(TStream& stream) {
    const auto bytes = ReadHeaderBytes<Size>(stream);
    TPSPFileHeader header{};
    std::memcpy(header.Signature.data(), bytes.data(), header.Signature.size());
    header.Major = LoadLE16(&bytes[32]);
    header.Minor = LoadLE16(&bytes[34]);
    return header;
  }

  bool Valid() const {
    const std::string text(reinterpret_cast<const char*>(Signature.data()), 25);
    return SameText(text, "Paint Shop Pro Image File") && Major >= 3;
  }
};

// The general image attributes: the first chunk of the first block.
struct TPSPAttributes {
  static constexpr std::size_t Size = 38;  // without the graphic contents that version 4 adds

  std::int32_t Width;
  std::int32_t Height;
  double Resolution;
  std::uint8_t Metric;  // 2: per centimetre
  std::uint16_t Compression;
  std::uint16_t BitDepth;  // 1, 4, 8 or 24
  bool Grey;

  static TPSPAttributes Parse(const std::vector<std::uint8_t>& bytes) {
    TPSPAttributes attributes{};
    attributes.Width = static_cast<std::int32_t>(LoadLE32(&bytes[0]));
    attributes.Height = static_cast<std::int32_t>(LoadLE32(&bytes[4]));
    const std::uint64_t bits = LoadLE32(&bytes[8]) | std::uint64_t{LoadLE32(&bytes[12])} << 32;
    std::memcpy(&attributes.Resolution, &bits, sizeof bits);
    attributes.Metric = bytes[16];
    attributes.Compression = LoadLE16(&bytes[17]);
    attributes.BitDepth = LoadLE16(&bytes[19]);
    attributes.Grey = bytes[27] != 0;
    // Plane count (21), colour count (23), image size (28), active layer (32), layer count
    // (36) and graphic contents (38) are not used.
    return attributes;
  }

  bool Valid() const { return Width > 0 && Height > 0; }

  // Dots per inch, 0 for a value no float can hold.
  float DotsPerInch() const {
    const double dpi = Metric == 2 ? Resolution * 2.54 : Resolution;
    return std::isfinite(dpi) && std::fabs(dpi) <= std::numeric_limits<float>::max() ? static_cast<float>(dpi) : 0.0f;
  }
};

struct TPSPBlock {
  std::uint16_t Id;
  std::int64_t End;  // just past the block's data
};

struct TPSPRect {
  std::int32_t Left, Top, Right, Bottom;

  static TPSPRect Parse(const std::uint8_t* at) {
    return TPSPRect{static_cast<std::int32_t>(LoadLE32(at)), static_cast<std::int32_t>(LoadLE32(at + 4)),
                    static_cast<std::int32_t>(LoadLE32(at + 8)), static_cast<std::int32_t>(LoadLE32(at + 12))};
  }
  std::int64_t Width() const { return std::int64_t{Right} - Left; }
  std::int64_t Height() const { return std::int64_t{Bottom} - Top; }
};

// Reading the blocks of one file. The version decides the shape of block headers and
// chunks; every read is bounded by the end of the block it belongs to, and whatever reaches
// past that end (or runs backwards) raises the picture's invalid-format message.
class TPSPBlocks {
 public:
  TPSPBlocks(TStream& stream, unsigned version, const TBitmap& picture)
      : stream_(stream), version_(version), picture_(picture) {}

  unsigned Version() const { return version_; }

  // The block whose header starts at the stream's position, within `end`; nothing when no
  // header fits before `end` or the bytes do not begin with "~" (where the blocks end).
  std::optional<TPSPBlock> Next(std::int64_t end) {
    const std::size_t headerSize = version_ == 3 ? 14 : 10;
    if (end - stream_.Position() < static_cast<std::int64_t>(headerSize)) return std::nullopt;
    std::array<std::uint8_t, 14> header;
    stream_.ReadBuffer(header.data(), static_cast<std::int64_t>(headerSize));
    if (header[0] != '~') return std::nullopt;
    // Version 3 puts the length of the block's first chunk before the block's length.
    const std::uint32_t length = LoadLE32(&header[version_ == 3 ? 10 : 6]);
    const std::int64_t blockEnd = stream_.Position() + length;
    if (blockEnd > end) picture_.RaiseInvalidImage();
    return TPSPBlock{LoadLE16(&header[4]), blockEnd};
  }

  // `size` bytes from the stream's position, all before `end`.
  std::vector<std::uint8_t> Bytes(std::size_t size, std::int64_t end) {
    if (static_cast<std::int64_t>(size) > end - stream_.Position()) picture_.RaiseInvalidImage();
    std::vector<std::uint8_t> bytes(size);
    stream_.ReadBuffer(bytes.data(), static_cast<std::int64_t>(size));
    return bytes;
  }

  // A chunk of at least `minimum` bytes: in version 3 exactly `version3Size` bytes; later
  // chunks lead with their own length (counting itself), and the stream is left after the
  // whole chunk, which may be longer than the fields this reader knows.
  std::vector<std::uint8_t> Chunk(std::size_t version3Size, std::size_t minimum, std::int64_t end) {
    if (version_ == 3) return Bytes(version3Size, end);
    const std::uint32_t length = LoadLE32(Bytes(4, end).data());
    if (length < 4 + minimum) picture_.RaiseInvalidImage();
    return Bytes(length - 4, end);
  }

  void Skip(std::int64_t to) { stream_.SetPosition(to); }
  TStream& Stream() { return stream_; }

 private:
  TStream& stream_;
  unsigned version_;
  const TBitmap& picture_;
};

// The first raster layer's saved pixels: the composite plane of indexed and grey pictures,
// or the red, green and blue planes and the transparency mask of colour ones, each Height
// rows of Stride bytes.
struct TPSPLayer {
  std::int64_t Left = 0;  // where the saved pixels lie on the canvas
  std::int64_t Top = 0;
  std::size_t Width = 0;
  std::size_t Height = 0;
  std::size_t Stride = 0;
  std::array<std::vector<std::uint8_t>, 4> Planes;
};

std::vector<std::uint8_t> Unpack(std::uint16_t compression, std::vector<std::uint8_t>& packed, std::size_t size,
                                 const TBitmap& picture) {
  std::vector<std::uint8_t> out(size);
  std::uint8_t* source = packed.data();
  std::uint8_t* dest = out.data();
  const auto packedSize = static_cast<std::int32_t>(std::min<std::size_t>(packed.size(), INT32_MAX));
  const auto unpackedSize = static_cast<std::int32_t>(std::min<std::size_t>(size, INT32_MAX));
  switch (compression) {
    case pcRLE:
      TPSPRLEDecoder().Decode(source, dest, packedSize, unpackedSize, size);
      break;
    case pcLZ77: {
      TLZ77Decoder decoder(Z_FINISH, false);
      decoder.DecodeInit();
      decoder.Decode(source, dest, packedSize, unpackedSize, size);
      const int result = decoder.LastResult();
      decoder.DecodeEnd();
      if (result < 0) GraphicExError(CompressionErrorMessage, {picture.ImageFormatName()});
      break;
    }
    default:
      std::copy_n(packed.begin(), std::min(packed.size(), size), out.begin());
      break;
  }
  return out;
}

// Reads the channel sub-blocks of a raster layer into `layer`, keeping the planes the
// picture shows. A channel's rows may be padded (to 4 bytes, as Windows bitmaps are): its
// unpacked length must be the layer's height times a row of the layer's width plus at
// most 3 bytes.
void ReadChannels(TPSPBlocks& blocks, const TPSPBlock& layerBlock, unsigned channelCount, unsigned bitDepth,
                  std::uint16_t compression, TPSPLayer& layer, const TBitmap& picture) {
  const bool colour = bitDepth == 24;
  const unsigned bits = colour ? 8 : bitDepth;
  const std::size_t rowBytes = (layer.Width * bits + 7) / 8;
  for (unsigned i = 0; i < channelCount; ++i) {
    const std::optional<TPSPBlock> block = blocks.Next(layerBlock.End);
    if (!block) break;
    if (block->Id != pbChannel) {
      blocks.Skip(block->End);
      continue;
    }
    const std::vector<std::uint8_t> info = blocks.Chunk(kChannelInfoSize, kChannelInfoSize, block->End);
    const std::uint32_t packedLength = LoadLE32(&info[0]);
    const std::uint32_t length = LoadLE32(&info[4]);
    const std::uint16_t bitmapType = LoadLE16(&info[8]);
    const std::uint16_t channelType = LoadLE16(&info[10]);
    int plane = -1;
    if (colour && bitmapType == btImage && channelType >= ctRed && channelType <= ctBlue) plane = channelType - ctRed;
    if (colour && bitmapType == btTransparencyMask && channelType == ctComposite) plane = 3;
    if (!colour && bitmapType == btImage && channelType == ctComposite) plane = 0;
    if (plane < 0) {
      blocks.Skip(block->End);
      continue;
    }
    const std::size_t stride = length / layer.Height;
    if (length % layer.Height != 0 || stride < rowBytes || stride > rowBytes + 3 ||
        (layer.Stride != 0 && stride != layer.Stride))
      picture.RaiseInvalidImage();
    layer.Stride = stride;
    std::vector<std::uint8_t> packed = blocks.Bytes(packedLength, block->End);
    layer.Planes[static_cast<std::size_t>(plane)] = Unpack(compression, packed, length, picture);
    blocks.Skip(block->End);
  }
}

// The first layer of the bank that is a raster layer with pixels; nothing when there is
// none. A layer's saved pixels lie at the saved rectangle, which is relative to the layer's
// own rectangle; both may reach past the canvas, but the saved pixels may not be larger
// than it.
std::optional<TPSPLayer> ReadLayerBank(TPSPBlocks& blocks, const TPSPBlock& bank, const TPSPAttributes& attributes,
                                       const TBitmap& picture) {
  const bool colour = attributes.BitDepth == 24;
  while (const std::optional<TPSPBlock> block = blocks.Next(bank.End)) {
    if (block->Id != pbLayer) {
      blocks.Skip(block->End);
      continue;
    }
    std::vector<std::uint8_t> info;
    unsigned channelCount;
    bool raster;
    if (blocks.Version() == 3) {
      const std::vector<std::uint8_t> head = blocks.Bytes(kVersion3LayerNameSize + kLayerInfoSize + 4, block->End);
      info.assign(head.begin() + kVersion3LayerNameSize, head.end());
      raster = info[0] == kVersion3NormalLayer;
      channelCount = LoadLE16(&info[kLayerInfoSize + 2]);
    } else {
      const std::vector<std::uint8_t> chunk = blocks.Chunk(0, 2, block->End);
      const std::size_t nameLength = LoadLE16(&chunk[0]);
      if (chunk.size() < 2 + nameLength + 33) picture.RaiseInvalidImage();
      info.assign(chunk.begin() + static_cast<std::ptrdiff_t>(2 + nameLength), chunk.end());
      raster = info[0] <= kLastRasterLayer;
      channelCount = LoadLE16(&blocks.Chunk(0, 4, block->End)[2]);  // bitmap count, channel count
    }
    const TPSPRect image = TPSPRect::Parse(&info[1]);
    const TPSPRect saved = TPSPRect::Parse(&info[17]);
    if (!raster || saved.Width() <= 0 || saved.Height() <= 0) {
      blocks.Skip(block->End);
      continue;
    }
    if (saved.Width() > attributes.Width || saved.Height() > attributes.Height) picture.RaiseInvalidImage();
    TPSPLayer layer;
    layer.Left = std::int64_t{image.Left} + saved.Left;
    layer.Top = std::int64_t{image.Top} + saved.Top;
    layer.Width = static_cast<std::size_t>(saved.Width());
    layer.Height = static_cast<std::size_t>(saved.Height());
    ReadChannels(blocks, *block, channelCount, attributes.BitDepth, attributes.Compression, layer, picture);
    const std::size_t needed = colour ? 3 : 1;
    for (std::size_t plane = 0; plane < needed; ++plane)
      if (layer.Planes[plane].empty()) picture.RaiseInvalidImage();
    return layer;
  }
  return std::nullopt;
}

TPalette ReadPalette(TPSPBlocks& blocks, const TPSPBlock& block, const TColorManager& colors) {
  const std::uint32_t count = LoadLE32(blocks.Chunk(4, 4, block.End).data());
  const std::uint32_t used = std::min<std::uint32_t>(count, 256);
  // Entries are blue, green, red and a reserved byte.
  const std::vector<std::uint8_t> entries = blocks.Bytes(4 * std::size_t{used}, block.End);
  const std::uint8_t* data[] = {entries.data()};
  return colors.BuildPalette(data, plInterleaved8Quad, used, true);
}

// Copies `count` pixels of `bits` bits (1, 4 or 8, packed most significant bits first) from
// pixel `from` of `source` to pixel `to` of `target`.
void CopyIndices(const std::uint8_t* source, std::size_t from, std::uint8_t* target, std::size_t to, std::size_t count,
                 unsigned bits) {
  if (bits == 8) {
    std::memcpy(target + to, source + from, count);
    return;
  }
  const unsigned perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t s = from + i, t = to + i;
    const unsigned sourceShift = 8 - bits * (static_cast<unsigned>(s % perByte) + 1);
    const unsigned targetShift = 8 - bits * (static_cast<unsigned>(t % perByte) + 1);
    const unsigned value = source[s / perByte] >> sourceShift & mask;
    std::uint8_t& byte = target[t / perByte];
    byte = static_cast<std::uint8_t>((byte & ~(mask << targetShift)) | value << targetShift);
  }
}

// Reads the signature, the version and the general image attributes, leaving the stream at
// the end of their block; nothing unless all three are sound.
std::optional<TPSPAttributes> ReadStart(TStream& stream, const TBitmap& picture, unsigned& version) {
  if (BytesLeft(stream) < static_cast<std::int64_t>(TPSPFileHeader::Size)) return std::nullopt;
  const TPSPFileHeader header = TPSPFileHeader::Read(stream);
  if (!header.Valid()) return std::nullopt;
  version = header.Major;
  TPSPBlocks blocks(stream, version, picture);
  const std::int64_t end = stream.Size();
  const std::optional<TPSPBlock> block = blocks.Next(end);
  if (!block || block->Id != pbImageAttributes) return std::nullopt;
  const TPSPAttributes attributes =
      TPSPAttributes::Parse(blocks.Chunk(TPSPAttributes::Size, TPSPAttributes::Size, block->End));
  if (!attributes.Valid()) return std::nullopt;
  blocks.Skip(block->End);
  return attributes;
}

}  // namespace

bool TPSPGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TPSPFileHeader::Size)) return false;
  return TPSPFileHeader::Read(stream).Valid();
}

bool TPSPGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  unsigned version = 0;
  std::optional<TPSPAttributes> attributes;
  try {
    attributes = ReadStart(stream, *this, version);
  } catch (const EInvalidGraphic&) {
    return false;
  }
  if (!attributes) return false;

  TImageProperties& properties = imageProperties_;
  properties.Version = version;
  properties.Width = static_cast<std::uint32_t>(attributes->Width);
  properties.Height = static_cast<std::uint32_t>(attributes->Height);
  if (attributes->BitDepth == 24) {
    properties.BitsPerSample = 8;
    properties.SamplesPerPixel = 3;
    properties.ColorScheme = cmRGB;
  } else {
    properties.BitsPerSample = static_cast<std::uint8_t>(attributes->BitDepth);
    properties.SamplesPerPixel = 1;
    properties.ColorScheme = attributes->Grey ? cmGray : cmIndexed;
  }
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.BitsPerSample * properties.SamplesPerPixel);
  switch (attributes->Compression) {
    case pcNone: properties.Compression = cpNone; break;
    case pcRLE: properties.Compression = cpRLE; break;
    case pcLZ77: properties.Compression = cpDeflate; break;
    case pcJPEG: properties.Compression = cpJPEG; break;
    default: properties.Compression = cpUnknown; break;
  }
  properties.XResolution = attributes->DotsPerInch();
  properties.YResolution = properties.XResolution;
  return true;
}

void TPSPGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  unsigned version = 0;
  const std::optional<TPSPAttributes> start = ReadStart(stream, *this, version);
  if (!start) RaiseInvalidImage();
  const TPSPAttributes& attributes = *start;
  const unsigned depth = attributes.BitDepth;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 24) GraphicExError(InvalidColorFormatMessage, {ImageFormatName()});
  if (attributes.Compression > pcLZ77)
    GraphicExError(UnsupportedFeatureMessage, {UnsupportedCompressionText, ImageFormatName()});

  const TImageProperties& properties = imageProperties_;
  const bool colour = depth == 24;
  TColorManager& colors = ColorManager();
  colors.SourceFlags = {};
  colors.SetSourceBits(properties.BitsPerSample);
  colors.SetTargetBits(properties.BitsPerSample);
  colors.SetSourceSamples(properties.SamplesPerPixel);
  colors.SetTargetSamples(properties.SamplesPerPixel);
  colors.SetSourceModel(properties.ColorScheme);
  colors.SetTargetModel(colour ? cmBGR : properties.ColorScheme);
  SetPixelFormat(colors.BitmapDepth(TColorSide::Target));
  CheckImageSize(attributes.Width, attributes.Height);

  progress.Begin("Loading data...");
  TPSPBlocks blocks(stream, version, *this);
  const std::int64_t end = stream.Size();
  std::optional<TPSPLayer> layer;
  std::optional<TPalette> palette;
  while (const std::optional<TPSPBlock> block = blocks.Next(end)) {
    if (block->Id == pbColorPalette && !palette) palette = ReadPalette(blocks, *block, colors);
    if (block->Id == pbLayerBank && !layer) layer = ReadLayerBank(blocks, *block, attributes, *this);
    blocks.Skip(block->End);
  }
  if (!layer) RaiseInvalidImage();

  const bool alpha = colour && !layer->Planes[3].empty();
  if (alpha) {
    colors.SetSourceModel(cmRGBA);
    colors.SetTargetModel(cmBGRA);
    colors.SetSourceSamples(4);
    colors.SetTargetSamples(4);
    SetPixelFormat(pd32Bit);
  }
  if (properties.ColorScheme == cmGray) {
    SetPalette(colors.BuildGrayPalette(false));
  } else if (!colour) {
    if (!palette) GraphicExError(InvalidPaletteMessage, {ImageFormatName()});
    SetPalette(*palette);
  }

  const int width = attributes.Width;
  const int height = attributes.Height;
  SetSize(width, height);
  progress.BeginRows(width);
  // The saved pixels clipped to the canvas.
  const std::int64_t left = std::max<std::int64_t>(layer->Left, 0);
  const std::int64_t right = std::min<std::int64_t>(layer->Left + static_cast<std::int64_t>(layer->Width), width);
  const std::size_t pixelBytes = alpha ? 4 : 3;
  std::array<const std::uint8_t*, 4> planes{};
  for (int y = 0; y < height; ++y) {
    const std::int64_t row = y - layer->Top;
    if (row >= 0 && row < static_cast<std::int64_t>(layer->Height) && left < right) {
      const auto from = static_cast<std::size_t>(left - layer->Left);
      const auto count = static_cast<std::size_t>(right - left);
      const std::size_t offset = static_cast<std::size_t>(row) * layer->Stride;
      if (colour) {
        const std::size_t used = alpha ? 4 : 3;
        for (std::size_t plane = 0; plane < used; ++plane) planes[plane] = layer->Planes[plane].data() + offset + from;
        colors.TranslateRow(std::span<const std::uint8_t* const>(planes.data(), used),
                            ScanLine(y) + static_cast<std::size_t>(left) * pixelBytes, static_cast<std::uint32_t>(count));
      } else {
        CopyIndices(layer->Planes[0].data() + offset, from, ScanLine(y), static_cast<std::size_t>(left), count, depth);
      }
    }
    progress.RowDone(y, height);
  }
}

}  // namespace driftpost
