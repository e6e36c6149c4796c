#include "readers/PPMGraphic.h"

#include <algorithm>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 32;

// Scales a sample of 0..maximum to 0..255: value × 255 / maximum, rounded half up, a value
// beyond the maximum counting as the maximum. With a maximum of 255 every value keeps its
// low 8 bits, as such maps always have.
class TSampleScale {
 public:
  // The maximum is at least 1.
  explicit TSampleScale(std::uint64_t maximum) : maximum_(maximum) {}
  std::uint8_t operator()(std::uint64_t value) const {
    if (maximum_ == 255) return static_cast<std::uint8_t>(value);
    if (value >= maximum_) return 255;
    // Both fit 64 bits: a maximum is below 2^33.
    return static_cast<std::uint8_t>((value * 510 + maximum_) / (2 * maximum_));
  }

 private:
  std::uint64_t maximum_;
};

// Turns a row of binary samples into their scaled levels: one byte per sample up to a
// maximum of 255, two (most significant first) up to 65535. The table covers every value the
// bytes can hold, so a value beyond the maximum needs no test.
class TBinarySamples {
 public:
  explicit TBinarySamples(std::uint64_t maximum)
      : bytes_(maximum > 255 ? 2 : 1), keep_(maximum == 255), levels_(bytes_ == 2 ? 65536 : 256) {
    const TSampleScale scale(maximum);
    for (std::size_t value = 0; value < levels_.size(); ++value) levels_[value] = scale(value);
  }
  std::size_t Bytes() const { return bytes_; }
  // Replaces the first `count` bytes of `samples` by the levels of its `count` samples.
  void Scale(std::uint8_t* samples, std::size_t count) const {
    if (keep_) return;
    // Held locally: the byte stores below could alias the vector's own fields.
    const std::uint8_t* const table = levels_.data();
    if (bytes_ == 1) {
      for (std::size_t i = 0; i < count; ++i) samples[i] = table[samples[i]];
      return;
    }
    // Sample i is read from bytes 2i and 2i + 1 before byte i is written.
    for (std::size_t i = 0; i < count; ++i) samples[i] = table[std::size_t{samples[2 * i]} << 8 | samples[2 * i + 1]];
  }

 private:
  std::size_t bytes_;
  bool keep_;  // a maximum of 255: the bytes are the levels
  std::vector<std::uint8_t> levels_;
};

}  // namespace

bool TPPMGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= 10) return false;
  const auto magic = ReadHeaderBytes<2>(stream);
  return magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
}

void TPPMGraphic::StartReading(TStream& stream) {
  index_ = filled_ = kBufferSize;
  stream_ = &stream;
}

bool TPPMGraphic::NextByte(std::uint8_t& byte) {
  if (index_ == filled_) {
    const std::int64_t got = stream_ ? stream_->Read(buffer_.data(), kBufferSize) : 0;
    if (got <= 0) return false;
    filled_ = static_cast<std::size_t>(got);
    index_ = 0;
  }
  byte = buffer_[index_++];
  return true;
}

std::uint8_t TPPMGraphic::GetByte() {
  std::uint8_t byte;
  if (!NextByte(byte)) RaiseReadError();
  return byte;
}

void TPPMGraphic::GetBytes(std::uint8_t* out, std::size_t count) {
  while (count > 0) {
    if (index_ == filled_) {
      // An empty buffer is refilled by taking one byte through it.
      *out++ = GetByte();
      --count;
      continue;
    }
    const std::size_t piece = std::min(count, filled_ - index_);
    std::copy_n(buffer_.data() + index_, piece, out);
    index_ += piece;
    out += piece;
    count -= piece;
  }
}

void TPPMGraphic::SkipLine() {
  for (std::uint8_t c = GetByte(); c != '\r' && c != '\n'; c = GetByte()) {
  }
}

std::uint64_t TPPMGraphic::ReadNumber(bool& overflow) {
  overflow = false;
  std::uint8_t c = GetByte();
  while (!IsDigit(c)) {
    if (c == '#') SkipLine();
    c = GetByte();
  }
  std::uint64_t value = 0;
  do {
    const unsigned digit = c - '0';
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
    // A number may end the data without a byte after it.
  } while (NextByte(c) && IsDigit(c));
  return value;
}

std::uint64_t TPPMGraphic::ReadSize() {
  bool overflow;
  const std::uint64_t value = ReadNumber(overflow);
  return overflow || value > kTooLarge ? kTooLarge : value;
}

std::uint8_t TPPMGraphic::ReadSample(std::uint64_t maximum) {
  bool overflow;
  // Decimal digits beyond 64 bits still leave the right low byte (2^64 is a multiple of
  // 256), which is what a maximum of 255 keeps; for any other maximum they are beyond it.
  const std::uint64_t value = ReadNumber(overflow);
  return TSampleScale(maximum)(overflow && maximum != 255 ? UINT64_MAX : value);
}

std::uint8_t TPPMGraphic::ReadBit() {
  std::uint8_t c = GetByte();
  while (!IsDigit(c)) {
    if (c == '#') SkipLine();
    c = GetByte();
  }
  return (c - '0') & 1u;
}

void TPPMGraphic::RaiseReadError() const { GraphicExError(StreamReadErrorMessage, {"PPM"}); }

TPPMGraphic::THeader TPPMGraphic::ReadHeader() {
  // The numbers follow the magic after blanks or comments, on its line or the next ones.
  THeader header;
  if (GetByte() != 'P') return header;
  const std::uint8_t variant = GetByte();
  if (variant < '1' || variant > '6') return header;
  header.Variant = static_cast<char>(variant);
  header.Width = ReadSize();
  header.Height = ReadSize();
  header.MaxValue = variant == '1' || variant == '4' ? 1 : ReadSize();
  return header;
}

bool TPPMGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  TImageProperties& properties = imageProperties_;
  properties.Compression = cpNone;
  // The header is read through the load's buffer, which borrows stream_ meanwhile.
  struct TRestoreStream {
    TStream*& slot;
    TStream* saved;
    ~TRestoreStream() { slot = saved; }
  } restore{stream_, stream_};
  StartReading(stream);
  const THeader header = ReadHeader();
  if (header.Variant == 0 || header.Width == 0 || header.Height == 0 || header.MaxValue == 0) return false;
  if ((header.Variant == '5' || header.Variant == '6') && header.MaxValue > 65535) return false;
  properties.Width = static_cast<std::uint32_t>(std::min<std::uint64_t>(header.Width, UINT32_MAX));
  properties.Height = static_cast<std::uint32_t>(std::min<std::uint64_t>(header.Height, UINT32_MAX));
  switch (header.Variant) {
    case '1':
    case '4':
      properties.ColorScheme = cmIndexed;
      properties.BitsPerSample = 1;
      properties.SamplesPerPixel = 1;
      break;
    case '2':
    case '5':
      properties.ColorScheme = cmIndexed;
      properties.BitsPerSample = 8;
      properties.SamplesPerPixel = 1;
      break;
    default:
      properties.ColorScheme = cmRGB;
      properties.BitsPerSample = 8;
      properties.SamplesPerPixel = 3;
      break;
  }
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.BitsPerSample * properties.SamplesPerPixel);
  return true;
}

void TPPMGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  StartReading(stream);
  const THeader header = ReadHeader();
  const std::int64_t width = static_cast<std::int64_t>(header.Width);
  const std::int64_t height = static_cast<std::int64_t>(header.Height);

  TColorManager& colors = ColorManager();
  colors.SetTargetModel(cmIndexed);
  colors.SetTargetSamples(1);
  colors.TargetFlags = {};
  switch (header.Variant) {
    case '1':
    case '4':
      SetPixelFormat(pd1Bit);
      colors.SetTargetBits(1);
      SetPalette(colors.BuildGrayPalette(true));
      break;
    case '2':
    case '5':
      SetPixelFormat(pd8Bit);
      colors.SetTargetBits(8);
      SetPalette(colors.BuildGrayPalette(false));
      break;
    default:
      SetPixelFormat(pd24Bit);
      break;
  }
  CheckImageSize(width, height);
  SetSize(static_cast<int>(width), static_cast<int>(height));

  const int rows = static_cast<int>(height);
  const std::size_t pixels = static_cast<std::size_t>(width);
  const std::uint64_t maximum = header.MaxValue;
  const bool binary = header.Variant == '5' || header.Variant == '6';
  const TBinarySamples levels(binary ? maximum : 1);
  std::vector<std::uint8_t> samples;
  if (binary) samples.resize(pixels * (header.Variant == '6' ? 3 : 1) * levels.Bytes());

  progress.BeginRows(static_cast<int>(width));
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* out = ScanLine(y);
    switch (header.Variant) {
      case '1': {
        const std::size_t bytes = (pixels + 7) / 8;
        std::fill_n(out, bytes, 0);
        for (std::size_t x = 0; x < pixels; ++x) out[x / 8] |= static_cast<std::uint8_t>(ReadBit() << (7 - x % 8));
        break;
      }
      case '4':
        GetBytes(out, (pixels + 7) / 8);
        break;
      case '2':
        for (std::size_t x = 0; x < pixels; ++x) out[x] = ReadSample(maximum);
        break;
      case '3':
        for (std::size_t x = 0; x < pixels; ++x) {
          out[3 * x + 2] = ReadSample(maximum);
          out[3 * x + 1] = ReadSample(maximum);
          out[3 * x] = ReadSample(maximum);
        }
        break;
      case '5':
        GetBytes(samples.data(), samples.size());
        levels.Scale(samples.data(), pixels);
        std::copy_n(samples.data(), pixels, out);
        break;
      default:
        GetBytes(samples.data(), samples.size());
        levels.Scale(samples.data(), 3 * pixels);
        for (std::size_t x = 0; x < pixels; ++x) {
          out[3 * x] = samples[3 * x + 2];
          out[3 * x + 1] = samples[3 * x + 1];
          out[3 * x + 2] = samples[3 * x];
        }
        break;
    }
    progress.RowDone(y, rows);
  }
}

}  // namespace driftpost
