#include "readers/TIFFGraphic.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include <zlib.h>

#include "picture/ColorManager.h"
#include "readers/CCITTDecoder.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"
#include "readers/ThunderDecoder.h"
#include "readers/TIFFJPEGDecoder.h"

namespace driftpost {
namespace {

constexpr const char* FormatName = "TIF/TIFF";

enum TTIFFTag : std::uint16_t {
  ttImageWidth = 256,
  ttImageLength = 257,
  ttBitsPerSample = 258,
  ttCompression = 259,
  ttPhotometric = 262,
  ttFillOrder = 266,
  ttStripOffsets = 273,
  ttSamplesPerPixel = 277,
  ttRowsPerStrip = 278,
  ttStripByteCounts = 279,
  ttXResolution = 282,
  ttYResolution = 283,
  ttPlanarConfig = 284,
  ttT4Options = 292,
  ttResolutionUnit = 296,
  ttPredictor = 317,
  ttColorMap = 320,
  ttTileWidth = 322,
  ttTileLength = 323,
  ttTileOffsets = 324,
  ttTileByteCounts = 325,
  ttExtraSamples = 338,
  ttJPEGTables = 347,
  ttYCbCrCoefficients = 529,
  ttYCbCrSubsampling = 530,
};

constexpr std::uint32_t T4TwoDimensional = 1;  // bit 0 of the T4 options

TCompressionType CompressionOf(std::uint32_t value) {
  switch (value) {
    case 1:
      return cpNone;
    case 2:
      return cpCCITTMH;
    case 3:
      return cpCCITTFax3;
    case 4:
      return cpCCITTFax4;
    case 5:
      return cpLZW;
    case 6:
      return cpOldJPEG;
    case 7:
      return cpJPEG;
    case 8:
    case 32946:
      return cpDeflate;
    case 32766:
      return cpNeXT;
    case 32771:
      return cpCCITTMHWord;
    case 32773:
      return cpPackBits;
    case 32809:
      return cpThunderScan;
    case 32895:
      return cpIT8CTPad;
    case 32896:
      return cpIT8LW;
    case 32897:
      return cpIT8MP;
    case 32898:
      return cpIT8BL;
    case 32908:
      return cpPixarFilm;
    case 32909:
      return cpPixarLog;
    case 32947:
      return cpDCS;
    case 34661:
      return cpJBIG;
    default:
      return cpUnknown;
  }
}

TColorModel SchemeOf(std::uint32_t photometric, std::uint32_t samples) {
  switch (photometric) {
    case 0:
    case 1:
      return cmGray;
    case 2:
      return samples < 4 ? cmRGB : cmRGBA;
    case 3:
      return cmIndexed;
    case 5:
      return cmCMYK;
    case 6:
      return cmYCbCr;
    case 8:
      return cmLab;
    default:
      return cmUnknown;
  }
}

[[noreturn]] void RaiseUnsupportedCompression() {
  GraphicExError(UnsupportedFeatureMessage, {UnsupportedCompressionText, FormatName});
}

[[noreturn]] void RaiseInvalidColorFormat() { GraphicExError(InvalidColorFormatMessage, {FormatName}); }

[[noreturn]] void RaiseInvalidPalette() { GraphicExError(InvalidPaletteMessage, {FormatName}); }

void ReverseBits(std::uint8_t* data, std::size_t size) {
  static const auto table = [] {
    std::array<std::uint8_t, 256> reversed{};
    for (unsigned i = 0; i < 256; ++i)
      for (unsigned bit = 0; bit < 8; ++bit)
        if (i & (1u << bit)) reversed[i] = static_cast<std::uint8_t>(reversed[i] | 0x80u >> bit);
    return reversed;
  }();
  for (std::size_t i = 0; i < size; ++i) data[i] = table[data[i]];
}

// Undoes horizontal differencing in one row of `count` samples of 8 or 16 bits (16-bit ones
// in the file's byte order): each sample was stored as its difference to the sample
// `stride` samples to its left, that is, the same sample of the pixel before.
void UndoPredictor(std::uint8_t* row, std::size_t count, unsigned bits, std::size_t stride, bool bigEndian) {
  if (bits == 8) {
    for (std::size_t i = stride; i < count; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - stride]);
    return;
  }
  auto load = [&](std::size_t i) { return bigEndian ? LoadBE16(row + 2 * i) : LoadLE16(row + 2 * i); };
  for (std::size_t i = stride; i < count; ++i) {
    const auto sum = static_cast<std::uint16_t>(load(i) + load(i - stride));
    row[2 * i + (bigEndian ? 0 : 1)] = static_cast<std::uint8_t>(sum >> 8);
    row[2 * i + (bigEndian ? 1 : 0)] = static_cast<std::uint8_t>(sum);
  }
}

// Chroma-subsampled YCbCr data: blocks of h × v luma samples followed by one blue and one
// red chroma sample, block rows of v rows. Spreads `rows` rows of such blocks into rows of
// interleaved luma, blue and red chroma, three bytes per pixel.
void ExpandSubsampled(const std::uint8_t* blocks, std::uint8_t* out, std::uint32_t width, std::uint32_t rows,
                      unsigned h, unsigned v) {
  const std::size_t blockBytes = std::size_t{h} * v + 2;
  const std::size_t blocksPerRow = (std::size_t{width} + h - 1) / h;
  for (std::uint32_t blockRow = 0; blockRow * v < rows; ++blockRow) {
    for (std::size_t block = 0; block < blocksPerRow; ++block) {
      const std::uint8_t* at = blocks + (blockRow * blocksPerRow + block) * blockBytes;
      for (unsigned j = 0; j < v; ++j) {
        const std::uint32_t y = blockRow * v + j;
        for (unsigned i = 0; i < h; ++i) {
          const std::size_t x = block * h + i;
          if (y >= rows || x >= width) continue;
          std::uint8_t* pixel = out + (std::size_t{y} * width + x) * 3;
          pixel[0] = at[j * h + i];
          pixel[1] = at[h * v];
          pixel[2] = at[h * v + 1];
        }
      }
    }
  }
}

// DecodeEnd for the decompressor of a load, also when the load fails.
class TDecoderSession {
 public:
  explicit TDecoderSession(TDecoder* decoder) : decoder_(decoder) {
    if (decoder_) decoder_->DecodeInit();
  }
  ~TDecoderSession() {
    if (!decoder_) return;
    try {
      decoder_->DecodeEnd();
    } catch (const Exception&) {
      // The load already failed with its own error.
    }
  }
  TDecoderSession(const TDecoderSession&) = delete;
  TDecoderSession& operator=(const TDecoderSession&) = delete;

  void End() {
    TDecoder* decoder = decoder_;
    decoder_ = nullptr;
    if (decoder) decoder->DecodeEnd();
  }

 private:
  TDecoder* decoder_;
};

// How the pixels of one strip are laid out once decoded.
struct TStripLayout {
  unsigned Planes = 1;              // strips per band of rows: 1, or the samples when stored apart
  std::size_t RowBytes = 0;         // bytes of one decoded row of one plane
  std::size_t RowSamples = 0;       // samples in that row
  unsigned Horizontal = 1;          // chroma subsampling of YCbCr data, else 1 and 1
  unsigned Vertical = 1;

  bool Subsampled() const { return Horizontal != 1 || Vertical != 1; }

  // Decoded bytes of one strip of `rows` rows and one plane.
  std::size_t StripBytes(std::uint32_t rows, std::uint32_t width) const {
    if (!Subsampled()) return rows * RowBytes;
    const std::size_t blocksPerRow = (std::size_t{width} + Horizontal - 1) / Horizontal;
    return (rows + Vertical - 1) / Vertical * blocksPerRow * (std::size_t{Horizontal} * Vertical + 2);
  }
};

std::unique_ptr<TDecoder> MakeDecoder(TImageProperties& properties, const TTIFFDirectory& directory) {
  const bool reversed = properties.Options & opReversedBits;
  const bool bilevel = properties.BitsPerSample == 1 && properties.SamplesPerPixel == 1;
  switch (properties.Compression) {
    case cpNone:
      return nullptr;
    case cpPackBits:
      return std::make_unique<TPackbitsRLEDecoder>();
    case cpCCITTFax3: {
      const std::uint32_t options = directory.Value(ttT4Options, 0);
      // Rows coded against the row above are beyond this decoder.
      if (options & T4TwoDimensional) RaiseUnsupportedCompression();
      if (!bilevel) RaiseInvalidColorFormat();
      return std::make_unique<TCCITTFax3Decoder>(options, reversed, false, properties.Width);
    }
    case cpCCITTMH:
    case cpCCITTMHWord:
      if (!bilevel) RaiseInvalidColorFormat();
      return std::make_unique<TCCITTMHDecoder>(directory.Value(ttT4Options, 0), reversed,
                                               properties.Compression == cpCCITTMHWord, properties.Width);
    case cpDeflate:
      return std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, true);
    case cpJPEG:
      properties.JPEGTables = directory.Bytes(ttJPEGTables);
      return std::make_unique<TTIFFJPEGDecoder>(properties);
    case cpThunderScan:
      if (properties.BitsPerSample != 4 || properties.SamplesPerPixel != 1) RaiseInvalidColorFormat();
      return std::make_unique<TThunderDecoder>(properties.Width);
    default:
      RaiseUnsupportedCompression();
  }
}

// The bitmap's pixel format and palette and the colour manager's settings for the file's
// samples; the layout of the decoded strips. Raises for samples no converter reads.
// `width` is the pixels of one decoded row: the picture's width, or a tile's.
TStripLayout SetUpColors(TTIFFGraphic& picture, const TTIFFDirectory& directory, std::uint32_t width) {
  const TImageProperties& properties = picture.ImageProperties();
  const unsigned samples = properties.SamplesPerPixel;
  const unsigned bits = properties.BitsPerSample;
  const bool planar = properties.PlanarConfig == 2 && samples > 1;
  // libjpeg turns YCbCr strips into blue, green and red pixels; other JPEG strips keep their
  // samples as stored.
  const bool jpegColours = properties.Compression == cpJPEG && properties.ColorScheme == cmYCbCr && !planar;
  TColorModel source = jpegColours ? cmBGR : properties.ColorScheme;
  TColorModel target = cmBGR;
  unsigned targetSamples = samples;
  unsigned targetBits = 8;
  switch (properties.ColorScheme) {
    case cmIndexed:
    case cmGray:
      target = properties.ColorScheme;
      // Bitmaps have 1, 4 and 8 bits per pixel; the levels between are widened.
      targetBits = bits == 1 ? 1 : bits <= 4 ? 4 : 8;
      // An extra sample (alpha) beside an index or grey level is skipped.
      if (samples > 1) {
        source = cmGrayAlpha;
        targetSamples = 1;
        if (bits != 8 && bits != 16) RaiseInvalidColorFormat();
      }
      break;
    case cmRGB:
    case cmRGBA:
    case cmCMYK:
    case cmLab:
    case cmYCbCr:
      if (properties.ColorScheme == cmRGBA) target = cmBGRA;
      if (properties.ColorScheme == cmCMYK) targetSamples = 3;
      if ((bits != 8 && bits != 16) || samples < (properties.ColorScheme == cmCMYK ? 4u : 3u))
        RaiseInvalidColorFormat();
      break;
    default:
      RaiseInvalidColorFormat();
  }
  TColorManager& colors = picture.ColorManager();
  colors.SourceFlags = properties.Options & opBigEndian ? TConversionFlags{cfSwapBytes} : TConversionFlags{};
  if (properties.ColorScheme == cmLab) colors.SourceFlags.Include(cfLabScaledL);
  colors.TargetFlags = {};
  colors.SetSourceBits(bits);
  colors.SetTargetBits(targetBits);
  colors.SetSourceModel(source);
  colors.SetTargetModel(target);
  colors.SetSourceSamples(samples);
  colors.SetTargetSamples(targetSamples);
  picture.SetPixelFormat(source == cmGrayAlpha ? pd8Bit : colors.BitmapDepth(TColorSide::Target));

  TStripLayout layout;
  layout.Planes = planar ? samples : 1;
  layout.RowSamples = std::size_t{width} * (planar ? 1 : samples);
  layout.RowBytes = (layout.RowSamples * bits + 7) / 8;
  if (target == cmIndexed) {
    // A colour map holds three planes (red, green, blue) of 16-bit values, at least one
    // entry for every index the bits can give.
    if (const TTIFFEntry* map = directory.Find(ttColorMap)) {
      const std::uint64_t needed = std::uint64_t{3} << bits;
      if (bits > 8 || map->Type != ftShort || map->Count < needed || map->Count > 3 * 65536) RaiseInvalidPalette();
      const std::vector<std::uint8_t> values = directory.RawValues(*map, map->Count);
      if (values.size() != std::size_t{map->Count} * 2) RaiseInvalidPalette();
      const std::size_t entries = map->Count / 3;
      const std::uint8_t* planes[] = {values.data(), values.data() + 2 * entries, values.data() + 4 * entries};
      picture.SetPalette(colors.BuildPalette(planes, plPlanar16Triple, static_cast<std::uint32_t>(entries), false));
    }
  } else if (target == cmGray) {
    picture.SetPalette(colors.BuildGrayPalette(properties.Options & opMinIsWhite));
  } else if (source == cmYCbCr) {
    std::vector<float> coefficients = directory.Floats(ttYCbCrCoefficients);
    if (coefficients.empty()) coefficients = {0.299f, 0.587f, 0.114f};
    layout.Horizontal = properties.YCbCrSubsampling[0];
    layout.Vertical = properties.YCbCrSubsampling[1];
    colors.SetYCbCrLayout(coefficients, layout.Horizontal, layout.Vertical);
    // Blocks of subsampled chroma hold luma and the two chroma samples, nothing else.
    if (layout.Subsampled() && (planar || bits != 8 || samples != 3)) RaiseInvalidColorFormat();
  }
  return layout;
}

// Reads the strips (or tiles) of one load, each into a buffer of its decoded bytes, never
// past the end of the file.
class TStripReader {
 public:
  TStripReader(TStream& stream, std::int64_t base, const TTIFFDirectory& directory, TImageProperties& properties,
               TDecoder* decoder, bool tiles)
      : stream_(stream), base_(base), fileSize_(stream.Size() - base),
        offsets_(directory.Cardinals(tiles ? ttTileOffsets : ttStripOffsets)),
        byteCounts_(directory.Cardinals(tiles ? ttTileByteCounts : ttStripByteCounts)), properties_(properties),
        decoder_(decoder) {
    // Bits of each byte running least significant first are turned round for every
    // decompressor that does not do so itself.
    const TCompressionType compression = properties.Compression;
    reverseBits_ = (properties.Options & opReversedBits) && compression != cpJPEG && compression != cpCCITTFax3 &&
                   compression != cpCCITTMH && compression != cpCCITTMHWord;
    // A strip without a byte count ends where the next strip begins, or at the end of the file.
    if (byteCounts_.size() < offsets_.size()) {
      std::vector<std::uint32_t> starts = offsets_;
      std::sort(starts.begin(), starts.end());
      for (std::size_t strip = byteCounts_.size(); strip < offsets_.size(); ++strip) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), offsets_[strip]);
        const std::int64_t end = next == starts.end() ? fileSize_ : std::min<std::int64_t>(*next, fileSize_);
        byteCounts_.push_back(static_cast<std::uint32_t>(std::max<std::int64_t>(end - offsets_[strip], 0)));
      }
    }
  }

  std::uint32_t Count() const { return static_cast<std::uint32_t>(offsets_.size()); }

  // Strip `strip` decoded into `data`, `size` bytes that start out as 0. False, and nothing
  // read, for a strip the file does not have.
  bool Read(std::size_t strip, std::size_t size, std::vector<std::uint8_t>& data) {
    data.assign(size, 0);
    if (strip >= offsets_.size() || offsets_[strip] >= fileSize_) return false;
    const std::int64_t available = fileSize_ - offsets_[strip];
    stream_.SetPosition(base_ + offsets_[strip]);
    properties_.CurrentStrip = static_cast<std::uint32_t>(strip);
    if (!decoder_) {
      const std::int64_t got = stream_.Read(data.data(), std::min<std::int64_t>(available, data.size()));
      if (reverseBits_) ReverseBits(data.data(), static_cast<std::size_t>(got));
      return true;
    }
    // No scheme here packs a strip into much more than its pixels take (fax codes, the
    // worst, take under 5 bits a pixel), apart from the headers of a JPEG strip; and strips
    // together hold no more than the file. Byte counts beyond that, or strips that all point
    // at one long stretch of the file, would only buy decoding the same bytes again.
    const std::int64_t headers = properties_.Compression == cpJPEG ? 65536 : 64;
    const std::int64_t reasonable = 8 * static_cast<std::int64_t>(size) + headers;
    packed_.resize(static_cast<std::size_t>(std::min<std::int64_t>(
        {byteCounts_[strip], available, reasonable, budget_, std::numeric_limits<std::int32_t>::max()})));
    packed_.resize(static_cast<std::size_t>(stream_.Read(packed_.data(), static_cast<std::int64_t>(packed_.size()))));
    budget_ -= static_cast<std::int64_t>(packed_.size());
    if (reverseBits_) ReverseBits(packed_.data(), packed_.size());
    std::uint8_t* in = packed_.data();
    std::uint8_t* out = data.data();
    decoder_->Decode(in, out, static_cast<std::int32_t>(packed_.size()),
                     static_cast<std::int32_t>(std::min<std::size_t>(size, std::numeric_limits<std::int32_t>::max())),
                     data.size());
    return true;
  }

 private:
  TStream& stream_;
  std::int64_t base_;
  std::int64_t fileSize_;  // from the base
  std::vector<std::uint32_t> offsets_;
  std::vector<std::uint32_t> byteCounts_;
  TImageProperties& properties_;
  TDecoder* decoder_;
  bool reverseBits_ = false;
  std::int64_t budget_ = fileSize_ + 65536;  // packed bytes the remaining strips may still take
  std::vector<std::uint8_t> packed_;
};

}  // namespace

bool TTIFFGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  const std::int64_t left = BytesLeft(stream);
  TTIFFDirectory::THeader header;
  return left >= 9 && TTIFFDirectory::ReadHeader(stream, header) && header.Version == 42 &&
         header.FirstOffset < left;
}

bool TTIFFGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  const std::int64_t base = stream.Position();
  TTIFFDirectory::THeader header;
  if (!TTIFFDirectory::ReadHeader(stream, header)) return false;
  TImageProperties& properties = imageProperties_;
  if (header.BigEndian) properties.Options |= opBigEndian;
  properties.Version = header.Version;
  properties.FirstIFD = header.FirstOffset;
  if (properties.Version != 42) return false;

  // Walk to the wanted directory; a chain that comes back to a directory has no end.
  directory_ = TTIFFDirectory(stream, base, header.BigEndian);
  std::uint32_t offset = header.FirstOffset;
  std::set<std::uint32_t> visited;
  for (int index = imageIndex; index > 0; --index) {
    if (!visited.insert(offset).second || !directory_.Skip(offset)) return false;
    offset = directory_.NextOffset();
    if (offset == 0) return false;
  }
  if (!directory_.Read(offset)) return false;
  const TTIFFDirectory& directory = directory_;

  properties.Width = directory.Value(ttImageWidth, 0);
  properties.Height = directory.Value(ttImageLength, 0);
  if (properties.Width == 0 || properties.Height == 0) return false;

  // No value, 0, 2^32 - 1 and anything beyond the height all mean one strip of every row.
  properties.RowsPerStrip = directory.Cardinals(ttRowsPerStrip);
  if (properties.RowsPerStrip.empty()) properties.RowsPerStrip.push_back(properties.Height);
  for (std::uint32_t& rows : properties.RowsPerStrip)
    if (rows == 0 || rows > properties.Height) rows = properties.Height;

  const std::uint32_t samples = directory.Value(ttSamplesPerPixel, 1);
  const std::vector<std::uint32_t> bits = directory.Cardinals(ttBitsPerSample);
  const std::uint32_t bitsPerSample = bits.empty() ? 1 : bits[0];
  if (samples > 255 || bitsPerSample > 255) return false;
  properties.SamplesPerPixel = static_cast<std::uint8_t>(samples);
  properties.BitsPerSample = static_cast<std::uint8_t>(bitsPerSample);

  properties.TileWidth = directory.Value(ttTileWidth, 0);
  properties.TileLength = directory.Value(ttTileLength, 0);
  if (properties.TileWidth && properties.TileLength) properties.Options |= opTiled;

  const std::uint32_t photometric = directory.Value(ttPhotometric, 0);
  const std::vector<std::uint32_t> extraSamples = directory.Cardinals(ttExtraSamples);
  properties.HasAlpha =
      !extraSamples.empty() && std::all_of(extraSamples.begin(), extraSamples.end(), [](auto kind) { return kind <= 2; });
  properties.BitsPerPixel = static_cast<std::uint8_t>(samples * bitsPerSample);
  properties.Compression = CompressionOf(directory.Value(ttCompression, 0));

  properties.ColorScheme = SchemeOf(photometric, samples);
  if (photometric == 0) properties.Options |= opMinIsWhite;
  if (photometric == 6) {
    properties.YCbCrSubsampling = directory.Bytes(ttYCbCrSubsampling);
    if (properties.YCbCrSubsampling.size() < 2) properties.YCbCrSubsampling = {2, 2};
    properties.YCbCrSubsampling.resize(2);
  }

  properties.JPEGColorMode = 0;
  properties.JPEGTablesMode = 3;
  properties.PlanarConfig = directory.Value(ttPlanarConfig, 0);
  properties.XResolution = directory.Float(ttXResolution, 0);
  properties.YResolution = directory.Float(ttYResolution, 0);
  if (directory.Value(ttResolutionUnit, 2) == 3) {
    properties.XResolution *= 2.54f;
    properties.YResolution *= 2.54f;
  }
  properties.Predictor = directory.Value(ttPredictor, 0);
  if (directory.Value(ttFillOrder, 1) == 2) properties.Options |= opReversedBits;
  return true;
}

void TTIFFGraphic::SaveStream(TStream&) {}

void TTIFFGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  TImageProperties& properties = imageProperties_;
  const TTIFFDirectory& directory = directory_;
  const bool tiled = properties.Options & opTiled;
  // A tile decodes as a strip of the tile's width and length would, edge tiles included:
  // its decompressor sees those as the picture's size.
  TImageProperties tile;
  if (tiled) {
    tile = properties;
    tile.Width = properties.TileWidth;
    tile.Height = properties.TileLength;
    tile.RowsPerStrip = {properties.TileLength};
    CheckImageSize(tile.Width, tile.Height);
  }
  TImageProperties& unit = tiled ? tile : properties;  // what one strip or tile holds
  const TStripLayout layout = SetUpColors(*this, directory, unit.Width);
  const std::unique_ptr<TDecoder> decoder = MakeDecoder(unit, directory);
  const unsigned bits = properties.BitsPerSample;
  const bool predictor = properties.Predictor == 2 && properties.Compression == cpDeflate && !layout.Subsampled();
  if (predictor && bits != 8 && bits != 16) RaiseUnsupportedCompression();

  CheckImageSize(properties.Width, properties.Height);
  SetSize(static_cast<int>(properties.Width), static_cast<int>(properties.Height));
  const std::uint32_t width = properties.Width;
  const std::uint32_t height = properties.Height;
  const auto bytesPerLine = [&](std::uint32_t pixels) {
    return static_cast<std::uint32_t>((std::uint64_t{bits} * properties.SamplesPerPixel * pixels + 7) / 8);
  };
  properties.BytesPerLine = bytesPerLine(width);
  unit.BytesPerLine = bytesPerLine(unit.Width);
  // Each tile's rows start at a whole byte of the bitmap's rows (tile widths are multiples
  // of 16 in any valid file).
  const auto pixelBits = static_cast<std::uint64_t>(BitsPerPixel());
  if (tiled && unit.Width * pixelBits % 8 != 0) RaiseInvalidImage();

  TDecoderSession session(decoder.get());
  TStripReader strips(stream, basePosition_, directory, unit, decoder.get(), tiled);
  progress.BeginRows(static_cast<int>(width));
  properties.CurrentRow = 0;
  properties.CurrentStrip = 0;
  properties.StripCount = strips.Count();

  // Strips come in bands of rows, tiles in bands of tiles side by side; with separate
  // planes the strips or tiles of the first plane come first.
  const std::uint32_t bandRows = tiled ? unit.Height : properties.RowsPerStrip[0];
  const std::size_t bands = (std::size_t{height} + bandRows - 1) / bandRows;
  const std::size_t across = (std::size_t{width} + unit.Width - 1) / unit.Width;
  const std::size_t predictorStride = layout.Planes > 1 ? 1 : properties.SamplesPerPixel;
  const bool bigEndian = properties.Options & opBigEndian;
  std::vector<std::vector<std::uint8_t>> planes(layout.Planes);
  std::vector<std::uint8_t> expanded;
  std::vector<const std::uint8_t*> rowPointers(layout.Planes);
  for (std::size_t band = 0; band < bands; ++band) {
    const std::uint32_t firstRow = static_cast<std::uint32_t>(band * bandRows);
    const std::uint32_t rows = std::min(bandRows, height - firstRow);
    const std::uint32_t decodedRows = tiled ? unit.Height : rows;
    const std::size_t unitBytes = layout.StripBytes(decodedRows, unit.Width);
    for (std::size_t column = 0; column < across; ++column) {
      const auto left = static_cast<std::uint32_t>(column * unit.Width);
      const std::uint32_t pixels = std::min(unit.Width, width - left);
      unit.CurrentRow = tiled ? 0 : firstRow;
      bool decoded = false;
      for (unsigned plane = 0; plane < layout.Planes; ++plane)
        decoded = strips.Read((plane * bands + band) * across + column, unitBytes, planes[plane]) || decoded;
      if (!decoded) continue;
      std::size_t rowStride = layout.RowBytes;
      if (layout.Subsampled()) {
        expanded.assign(std::size_t{decodedRows} * unit.Width * 3, 0);
        ExpandSubsampled(planes[0].data(), expanded.data(), unit.Width, decodedRows, layout.Horizontal,
                         layout.Vertical);
        rowStride = std::size_t{unit.Width} * 3;
      }
      for (std::uint32_t row = 0; row < rows; ++row) {
        for (unsigned plane = 0; plane < layout.Planes; ++plane) {
          std::uint8_t* at = (layout.Subsampled() ? expanded.data() : planes[plane].data()) + row * rowStride;
          if (predictor) UndoPredictor(at, layout.RowSamples, bits, predictorStride, bigEndian);
          rowPointers[plane] = at;
        }
        std::uint8_t* target = ScanLine(static_cast<int>(firstRow + row)) + left * pixelBits / 8;
        ColorManager().TranslateRow(rowPointers, target, pixels);
      }
    }
    for (std::uint32_t row = 0; row < rows; ++row) progress.RowDone(static_cast<int>(firstRow + row), static_cast<int>(height));
    properties.CurrentRow = firstRow + rows;
  }
  session.End();
}

}  // namespace driftpost
