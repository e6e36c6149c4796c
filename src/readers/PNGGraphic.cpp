#include "readers/PNGGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

const char* const PNG = "PNG";

constexpr std::array<std::uint8_t, 8> Signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Chunk types are compared as big-endian numbers with bit 5 of every byte cleared, so the
// letter case of a type does not matter ("idat" is image data too).
constexpr std::uint32_t CaseBits = 0x20202020;

constexpr std::uint32_t ChunkType(const char (&name)[5]) {
  return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[0])) << 24 |
          static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[1])) << 16 |
          static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[2])) << 8 |
          static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[3]))) &
         ~CaseBits;
}

constexpr std::uint32_t ctIHDR = ChunkType("IHDR");
constexpr std::uint32_t ctIDAT = ChunkType("IDAT");
constexpr std::uint32_t ctIEND = ChunkType("IEND");
constexpr std::uint32_t ctPLTE = ChunkType("PLTE");
constexpr std::uint32_t ctgAMA = ChunkType("gAMA");
constexpr std::uint32_t ctbKGD = ChunkType("bKGD");
constexpr std::uint32_t cttRNS = ChunkType("tRNS");

// The format allows no longer chunk.
constexpr std::uint32_t MaxChunkLength = 0x7FFFFFFF;

enum TPNGColorType : std::uint8_t {
  pcGray = 0,
  pcRGB = 2,
  pcIndexed = 3,
  pcGrayAlpha = 4,
  pcRGBA = 6,
};

struct TPNGHeader {
  static constexpr std::size_t Size = 13;

  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t BitDepth = 0;
  std::uint8_t ColorType = 0;  // TPNGColorType
  std::uint8_t CompressionMethod = 0;
  std::uint8_t FilterMethod = 0;
  std::uint8_t InterlaceMethod = 0;

  // `data` holds the IHDR chunk's Size bytes.
  static TPNGHeader Parse(const std::vector<std::uint8_t>& data) {
    return TPNGHeader{LoadBE32(&data[0]), LoadBE32(&data[4]), data[8], data[9], data[10], data[11], data[12]};
  }

  bool Valid() const { return Width > 0 && Height > 0; }
  bool Interlaced() const { return InterlaceMethod != 0; }

  unsigned Channels() const {
    switch (ColorType) {
      case pcRGB: return 3;
      case pcGrayAlpha: return 2;
      case pcRGBA: return 4;
      default: return 1;
    }
  }

  // Bytes of a stored row of `pixels` pixels, without its filter byte.
  std::uint64_t RowBytes(std::uint64_t pixels) const { return (pixels * BitDepth * Channels() + 7) / 8; }
};

// The chunk sequence after the signature: each chunk is a length and a type (its header),
// the data and a CRC over type and data. The current chunk's data is read into a buffer
// that grows as needed and is reused for the next chunk.
class TChunkReader {
 public:
  explicit TChunkReader(TStream& stream) : stream_(stream), end_(stream.Size()) {}

  void ReadHeader() {
    const auto bytes = ReadHeaderBytes<8>(stream_);
    length_ = LoadBE32(&bytes[0]);
    type_ = LoadBE32(&bytes[4]);
    crc_ = crc32(0, &bytes[4], 4);
  }

  std::uint32_t Type() const { return type_ & ~CaseBits; }
  std::uint32_t Length() const { return length_; }
  // Bit 5 of the first type byte is clear in a chunk a reader must understand.
  bool Critical() const { return (type_ & 0x20000000) == 0; }

  // Reads the data and the CRC of the current chunk and checks them.
  std::vector<std::uint8_t>& ReadData() {
    // A length is checked against what the file holds before it is allocated.
    if (length_ > MaxChunkLength || std::int64_t{length_} + 4 > end_ - stream_.Position()) throw EReadError();
    data_.resize(length_);
    if (length_ > 0) {
      stream_.ReadBuffer(data_.data(), length_);
      crc_ = crc32(crc_, data_.data(), length_);
    }
    const auto stored = ReadHeaderBytes<4>(stream_);
    if (crc_ != LoadBE32(stored.data())) GraphicExError(CRCErrorMessage, {PNG});
    return data_;
  }

  // Passes over the data and the CRC of the current chunk unread.
  void Skip() { stream_.Seek(std::int64_t{length_} + 4, TSeekOrigin::soCurrent); }

 private:
  TStream& stream_;
  std::int64_t end_;
  std::uint32_t length_ = 0;
  std::uint32_t type_ = 0;
  unsigned long crc_ = 0;
  std::vector<std::uint8_t> data_;
};

// A gAMA chunk's image gamma; none for a chunk too short or a gamma of 0, which the format
// does not allow.
std::optional<float> GammaOf(const std::vector<std::uint8_t>& data) {
  if (data.size() < 4 || LoadBE32(data.data()) == 0) return std::nullopt;
  return static_cast<float>(LoadBE32(data.data())) / 100000.0f;
}

// Reverses the filter of one row in place. `prior` is the row above in the same pass, as
// already reversed (zeros above the first row); bytes left of the row count as zero.
// PixelBytes is the distance to the same byte of the pixel to the left, and `size` is a
// whole number of pixels. The bytes of one pixel are independent of each other, so the
// left neighbours are carried along per byte rather than read back from the row.
template <std::size_t PixelBytes>
void Unfilter(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prior, std::size_t size) {
  std::array<int, PixelBytes> left{}, upperLeft{};
  switch (filter) {
    case 1:  // Sub
      for (std::size_t i = 0; i < size; i += PixelBytes)
        for (std::size_t k = 0; k < PixelBytes; ++k) {
          left[k] = (left[k] + row[i + k]) & 0xFF;
          row[i + k] = static_cast<std::uint8_t>(left[k]);
        }
      break;
    case 2:  // Up
      for (std::size_t i = 0; i < size; ++i) row[i] = static_cast<std::uint8_t>(row[i] + prior[i]);
      break;
    case 3:  // Average, rounded down
      for (std::size_t i = 0; i < size; i += PixelBytes)
        for (std::size_t k = 0; k < PixelBytes; ++k) {
          left[k] = (row[i + k] + ((left[k] + prior[i + k]) >> 1)) & 0xFF;
          row[i + k] = static_cast<std::uint8_t>(left[k]);
        }
      break;
    case 4:  // Paeth: of left, above and upper left the one nearest left + above - upper left
      for (std::size_t i = 0; i < size; i += PixelBytes)
        for (std::size_t k = 0; k < PixelBytes; ++k) {
          const int above = prior[i + k];
          const int toLeft = std::abs(above - upperLeft[k]);
          const int toAbove = std::abs(left[k] - upperLeft[k]);
          const int toUpperLeft = std::abs(left[k] + above - 2 * upperLeft[k]);
          int predicted = upperLeft[k];
          if (toAbove <= toUpperLeft) predicted = above;
          if (toLeft <= toAbove && toLeft <= toUpperLeft) predicted = left[k];
          left[k] = (row[i + k] + predicted) & 0xFF;
          row[i + k] = static_cast<std::uint8_t>(left[k]);
          upperLeft[k] = above;
        }
      break;
    default:  // None; an unknown filter leaves the row as stored
      break;
  }
}

using TUnfilter = void (*)(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prior, std::size_t size);

// Complete pixels take 1 (also for depths below 8), 2, 3, 4, 6 or 8 bytes.
TUnfilter UnfilterFor(std::size_t pixelBytes) {
  switch (pixelBytes) {
    case 2: return &Unfilter<2>;
    case 3: return &Unfilter<3>;
    case 4: return &Unfilter<4>;
    case 6: return &Unfilter<6>;
    case 8: return &Unfilter<8>;
    default: return &Unfilter<1>;
  }
}

// The seven passes of Adam7 interlacing. Mask bit 7 stands for the first pixel of every
// group of eight, so each mask selects the columns its pass holds.
struct TAdam7Pass {
  int Row, RowStep, Column, ColumnStep;
  std::uint8_t Mask;
};
constexpr std::array<TAdam7Pass, 7> Adam7 = {{{0, 8, 0, 8, 0x80},
                                              {0, 8, 4, 8, 0x08},
                                              {4, 8, 0, 4, 0x88},
                                              {0, 4, 2, 4, 0x22},
                                              {2, 4, 0, 2, 0xAA},
                                              {0, 2, 1, 2, 0x55},
                                              {1, 2, 0, 1, 0xFF}}};

// One load of a PNG picture: walks the chunks after IHDR, keeps what the ancillary chunks
// say until the image data arrives, then inflates, unfilters and converts the rows into
// the picture's bitmap.
class TPNGLoad {
 public:
  TPNGLoad(TPNGGraphic& picture, TStream& stream, TLoadProgress& progress)
      : picture_(picture), colors_(picture.ColorManager()), stream_(stream), chunks_(stream), progress_(progress) {}

  // The stream stands at the signature.
  void Run();

 private:
  void SetUpColorLayout();
  void ReadPalette();
  void ReadGamma();
  void DecodeImage();
  bool ReadRow(std::vector<std::uint8_t>& row, const std::vector<std::uint8_t>& prior, std::size_t size);
  bool Inflate(std::uint8_t* out, std::size_t size);
  bool NextImageData();
  std::uint8_t DisplayLevel(std::uint16_t sample) const;
  std::optional<TColor> ColorOf(const std::vector<std::uint8_t>& data) const;

  TPNGGraphic& picture_;
  TColorManager& colors_;
  TStream& stream_;
  TChunkReader chunks_;
  TLoadProgress& progress_;
  TPNGHeader header_;
  TLZ77Decoder decoder_{Z_PARTIAL_FLUSH, false};
  bool layoutReady_ = false;
  bool gammaCorrect_ = false;
  std::size_t pixelBytes_ = 1;
  std::optional<TPalette> palette_;
  std::vector<std::uint8_t> background_;   // the bKGD data, when there is one
  std::vector<std::uint8_t> transparent_;  // the tRNS data of a grey or RGB image
  // The image data chunk being inflated: what of it is left.
  std::uint8_t* input_ = nullptr;
  std::size_t inputLeft_ = 0;
};

void TPNGLoad::Run() {
  stream_.Seek(static_cast<std::int64_t>(Signature.size()), TSeekOrigin::soCurrent);
  chunks_.ReadHeader();
  if (chunks_.Type() != ctIHDR || chunks_.Length() != TPNGHeader::Size) picture_.RaiseInvalidImage();
  header_ = TPNGHeader::Parse(chunks_.ReadData());
  colors_.SourceFlags = {cfSwapBytes};  // 16-bit samples are stored most significant byte first
  colors_.TargetFlags = {};
  if (picture_.ImageProperties().Compression != cpDeflate)
    GraphicExError(UnsupportedFeatureMessage, {UnsupportedCompressionText, PNG});

  decoder_.DecodeInit();
  bool imageRead = false;
  chunks_.ReadHeader();
  for (;;) {
    const std::uint32_t type = chunks_.Type();
    if (type == ctIDAT && !imageRead) {
      imageRead = true;
      DecodeImage();  // leaves the header of the chunk after the image data read
      continue;
    }
    if (type == ctPLTE) {
      ReadPalette();
    } else if (type == ctgAMA) {
      ReadGamma();
    } else if (type == ctbKGD) {
      background_ = chunks_.ReadData();
    } else if (type == cttRNS) {
      // Palette images give alpha values per entry, which a picture without alpha has no use for.
      const auto& data = chunks_.ReadData();
      if (header_.ColorType == pcGray || header_.ColorType == pcRGB) transparent_ = data;
    } else if (type == ctIEND) {
      break;
    } else {
      // Image data after other chunks that followed the image is unexpected too.
      if (chunks_.Critical()) GraphicExError(UnknownCriticalChunkMessage);
      chunks_.Skip();
    }
    chunks_.ReadHeader();
  }
  // A file without image data is no picture: an empty bitmap would pass for one.
  if (!imageRead) picture_.RaiseInvalidImage();
  decoder_.DecodeEnd();
  progress_.End();
}

// Sets the colour manager, the pixel format and the bytes per complete pixel by colour type
// and bit depth. Grey and grey with alpha get a grey palette; palette images get the
// file's palette when it is read.
void TPNGLoad::SetUpColorLayout() {
  const unsigned depth = header_.BitDepth;
  auto oneOf = [depth](std::initializer_list<unsigned> depths) {
    return std::find(depths.begin(), depths.end(), depth) != depths.end();
  };
  TColorModel source = cmUnknown, target = cmUnknown;
  unsigned samples = 1, targetBits = 8;
  switch (header_.ColorType) {
    case pcGray:
      if (!oneOf({1, 2, 4, 8, 16})) break;
      source = target = cmGray;
      targetBits = depth == 2 ? 4 : std::min(depth, 8u);
      break;
    case pcRGB:
      if (!oneOf({8, 16})) break;
      source = cmRGB;
      target = cmBGR;
      samples = 3;
      break;
    case pcIndexed:
      if (!oneOf({1, 2, 4, 8})) break;
      source = target = cmIndexed;
      targetBits = depth == 2 ? 4 : depth;
      break;
    case pcGrayAlpha:
      if (!oneOf({8, 16})) break;
      source = cmGrayAlpha;
      target = cmIndexed;
      break;
    case pcRGBA:
      if (!oneOf({8, 16})) break;
      source = cmRGBA;
      target = cmBGRA;
      samples = 4;
      break;
    default:
      break;
  }
  if (source == cmUnknown) GraphicExError(InvalidColorFormatMessage, {PNG});

  colors_.SetSourceModel(source);
  colors_.SetTargetModel(target);
  // Grey with alpha steps over two samples per pixel and writes one.
  colors_.SetSourceSamples(source == cmGrayAlpha ? 2 : samples);
  colors_.SetTargetSamples(samples);
  colors_.SetSourceBits(depth);
  colors_.SetTargetBits(targetBits);
  picture_.SetPixelFormat(colors_.BitmapDepth(TColorSide::Target));
  if (source == cmGray || source == cmGrayAlpha) palette_ = colors_.BuildGrayPalette(false);
  pixelBytes_ = std::max<std::size_t>(1, depth * header_.Channels() / 8);
  layoutReady_ = true;
}

void TPNGLoad::ReadPalette() {
  if (chunks_.Length() % 3 != 0 || chunks_.Length() == 0) GraphicExError(InvalidPaletteMessage, {PNG});
  const auto& data = chunks_.ReadData();
  // Other images may suggest a palette for displays with few colours; they need none.
  if (header_.ColorType != pcIndexed) return;
  SetUpColorLayout();
  const std::uint8_t* entries[] = {data.data()};
  palette_ = colors_.BuildPalette(entries, plInterleaved8Triple, static_cast<std::uint32_t>(data.size() / 3), false);
}

// The display gamma is 2.2, so an image gamma of 1/2.2 leaves the samples as they are and
// an image gamma of 1 brightens them.
void TPNGLoad::ReadGamma() {
  const std::optional<float> gamma = GammaOf(chunks_.ReadData());
  if (!gamma) return;
  // The table is built for 8-bit levels: palettes, grey ramps and colour samples all pass
  // through it as such, whatever the depth set up for the rows.
  const unsigned sourceBits = colors_.SourceBits(), targetBits = colors_.TargetBits();
  colors_.SetSourceBits(8);
  colors_.SetTargetBits(8);
  colors_.SetGammaValues(*gamma, 2.2f);
  colors_.SetSourceBits(sourceBits);
  colors_.SetTargetBits(targetBits);
  colors_.TargetFlags.Include(cfGammaCorrect);
  gammaCorrect_ = true;
  picture_.ImageProperties().Options |= opGammaApplied;
}

// A grey or colour sample of bKGD or tRNS (stored in 16 bits whatever the depth) as the
// picture shows a pixel of that sample: widened or narrowed to 8 bits as the rows are,
// then through the gamma table when the rows go through it.
std::uint8_t TPNGLoad::DisplayLevel(std::uint16_t sample) const {
  std::uint8_t level;
  if (header_.BitDepth == 16) {
    level = static_cast<std::uint8_t>(sample * 255u / 65535u);
  } else if (header_.BitDepth >= 8) {
    level = static_cast<std::uint8_t>(sample);
  } else {
    const unsigned maximum = (1u << header_.BitDepth) - 1u;
    level = static_cast<std::uint8_t>((sample & maximum) * 255u / maximum);
  }
  return gammaCorrect_ ? colors_.GammaTable()[level] : level;
}

// The colour a bKGD or tRNS chunk names for this image: a grey level, red, green and blue
// levels, or (bKGD of palette images) a palette entry. None when the data is too short or
// names no entry of the palette.
std::optional<TColor> TPNGLoad::ColorOf(const std::vector<std::uint8_t>& data) const {
  switch (header_.ColorType) {
    case pcGray:
    case pcGrayAlpha:
      if (data.size() < 2) return std::nullopt;
      {
        const std::uint8_t grey = DisplayLevel(LoadBE16(data.data()));
        return RGBColor(grey, grey, grey);
      }
    case pcRGB:
    case pcRGBA:
      if (data.size() < 6) return std::nullopt;
      return RGBColor(DisplayLevel(LoadBE16(&data[0])), DisplayLevel(LoadBE16(&data[2])),
                      DisplayLevel(LoadBE16(&data[4])));
    case pcIndexed:
      if (data.empty() || !palette_ || data[0] >= palette_->size()) return std::nullopt;
      {
        const TPaletteEntry& entry = (*palette_)[data[0]];
        return RGBColor(entry.Red, entry.Green, entry.Blue);
      }
    default:
      return std::nullopt;
  }
}

void TPNGLoad::DecodeImage() {
  if (!layoutReady_) SetUpColorLayout();
  if (palette_) picture_.SetPalette(*palette_);

  picture_.CheckImageSize(header_.Width, header_.Height);
  const auto rowBytes = static_cast<std::size_t>(header_.RowBytes(header_.Width));
  // The two row buffers count against the limits as the bitmap does (a 16-bit RGBA row
  // is twice the bitmap's row).
  if (2 * (std::uint64_t{rowBytes} + 1) > PictureLimits().MaxBytes) picture_.RaiseInvalidImage();
  const int width = static_cast<int>(header_.Width);
  const int height = static_cast<int>(header_.Height);
  picture_.SetSize(width, height);  // white
  if (const std::optional<TColor> background = ColorOf(background_); background && *background != clWhite)
    picture_.Fill(*background);
  if (const std::optional<TColor> transparent = ColorOf(transparent_)) {
    picture_.SetTransparentColor(*transparent);
    picture_.SetTransparent(true);
  }
  progress_.BeginRows(width);

  std::vector<std::uint8_t> current(rowBytes + 1), previous(rowBytes + 1);
  const auto count = static_cast<std::uint32_t>(width);
  if (!header_.Interlaced()) {
    for (int y = 0; y < height; ++y) {
      if (!ReadRow(current, previous, rowBytes)) break;
      colors_.TranslateRow(current.data() + 1, picture_.ScanLine(y), count);
      std::swap(current, previous);
      progress_.RowDone(y, height);
    }
  } else {
    bool complete = true;
    for (const TAdam7Pass& pass : Adam7) {
      if (!complete) break;
      if (pass.Column >= width) continue;
      const std::uint64_t pixels = static_cast<std::uint64_t>(width - pass.Column + pass.ColumnStep - 1) / pass.ColumnStep;
      const auto passBytes = static_cast<std::size_t>(header_.RowBytes(pixels));
      std::fill_n(previous.begin(), passBytes + 1, 0);
      for (int y = pass.Row; y < height && complete; y += pass.RowStep) {
        complete = ReadRow(current, previous, passBytes);
        if (!complete) break;
        colors_.TranslateRow(current.data() + 1, picture_.ScanLine(y), count, pass.Mask);
        std::swap(current, previous);
        if (&pass == &Adam7.back()) progress_.RowDone(y, height);
      }
    }
  }
  // What image data is left is read, for its CRC, and dropped: the picture is complete.
  while (chunks_.Type() == ctIDAT) {
    chunks_.ReadData();
    chunks_.ReadHeader();
  }
}

// Inflates one stored row (its filter byte, then `size` bytes) into `row` and reverses
// its filter. False when the image data ends before the row is complete.
bool TPNGLoad::ReadRow(std::vector<std::uint8_t>& row, const std::vector<std::uint8_t>& prior, std::size_t size) {
  if (!Inflate(row.data(), size + 1)) return false;
  UnfilterFor(pixelBytes_)(row[0], row.data() + 1, prior.data() + 1, size);
  return true;
}

// Inflates exactly `size` bytes into `out` from the image data chunks, taking the next one
// whenever the current one is used up. False when the image data chunks end first. The
// output never exceeds `size`, so data that would make more than the image stops here.
bool TPNGLoad::Inflate(std::uint8_t* out, std::size_t size) {
  for (;;) {
    if (inputLeft_ == 0 && !NextImageData()) return false;
    std::uint8_t* source = input_;
    std::uint8_t* dest = out;
    decoder_.Decode(source, dest, static_cast<std::int32_t>(inputLeft_), static_cast<std::int32_t>(size), size);
    inputLeft_ -= static_cast<std::size_t>(source - input_);
    input_ = source;
    size -= static_cast<std::size_t>(dest - out);
    out = dest;
    const int result = decoder_.LastResult();
    if (result == Z_STREAM_END) {
      // The stream ended before the image did, or more data follows its end.
      if (size > 0 || inputLeft_ > 0) GraphicExError(ExtraCompressedDataMessage, {PNG});
      return true;
    }
    if (result != Z_OK) GraphicExError(CompressionErrorMessage, {PNG});
    if (size == 0) return true;
  }
}

// Makes the next non-empty image data chunk the input; false when the chunk at hand is not
// image data.
bool TPNGLoad::NextImageData() {
  while (chunks_.Type() == ctIDAT) {
    std::vector<std::uint8_t>& data = chunks_.ReadData();
    chunks_.ReadHeader();
    if (!data.empty()) {
      input_ = data.data();
      inputLeft_ = data.size();
      return true;
    }
  }
  return false;
}

}  // namespace

bool TPNGGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(Signature.size())) return false;
  return ReadHeaderBytes<Signature.size()>(stream) == Signature;
}

bool TPNGGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  if (ReadHeaderBytes<Signature.size()>(stream) != Signature) return false;
  TChunkReader chunks(stream);
  chunks.ReadHeader();
  if (chunks.Type() != ctIHDR || chunks.Length() != TPNGHeader::Size) return false;
  const TPNGHeader header = TPNGHeader::Parse(chunks.ReadData());
  if (!header.Valid()) return false;

  TImageProperties& properties = imageProperties_;
  properties.Options = opBigEndian;
  properties.Width = header.Width;
  properties.Height = header.Height;
  properties.Compression = header.CompressionMethod == 0 ? cpDeflate : cpUnknown;
  properties.BitsPerSample = header.BitDepth;
  properties.SamplesPerPixel = 1;
  switch (header.ColorType) {
    case pcGray:
      properties.ColorScheme = cmGray;
      break;
    case pcRGB:
      properties.ColorScheme = cmRGB;
      properties.SamplesPerPixel = 3;
      break;
    case pcIndexed:
      properties.ColorScheme = cmIndexed;
      break;
    case pcGrayAlpha:
      properties.ColorScheme = cmGrayAlpha;
      break;
    case pcRGBA:
      properties.ColorScheme = cmRGBA;
      properties.SamplesPerPixel = 4;
      break;
    default:
      properties.ColorScheme = cmUnknown;
      break;
  }
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.BitsPerSample * properties.SamplesPerPixel);
  properties.FilterMode = header.FilterMethod;
  properties.Interlaced = header.Interlaced();
  properties.HasAlpha = properties.ColorScheme == cmGrayAlpha || properties.ColorScheme == cmRGBA;

  // The gamma comes before the image data; the look-out stops at the end of the chunks.
  for (;;) {
    chunks.ReadHeader();
    if (chunks.Type() == ctIEND) break;
    if (chunks.Type() == ctgAMA) {
      if (const std::optional<float> gamma = GammaOf(chunks.ReadData())) properties.FileGamma = *gamma;
      break;
    }
    chunks.Skip();
  }
  return true;
}

void TPNGGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  SetTransparent(false);
  TPNGLoad(*this, stream, progress).Run();
}

}  // namespace driftpost
