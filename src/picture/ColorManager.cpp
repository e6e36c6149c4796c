#include "picture/ColorManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace driftpost {
namespace {

const char* const kInvalidBits = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
const char* const kInvalidSamples = "Sample count per pixel does not correspond to the given color scheme.";
const char* const kInvalidSubsampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
const char* const kSubsamplingOrder = "Vertical subsampling value must be <= horizontal subsampling value.";
const char* const kIndexedMix = "Conversion between indexed and non-indexed pixel formats is not supported.";
const char* const kNoConverter = "Color conversion failed. Could not find a proper method.";

bool IsIndexedSource(TColorModel model) { return model == cmIndexed || model == cmGray || model == cmGrayAlpha; }
bool IsIndexedTarget(TColorModel model) { return model == cmIndexed || model == cmGray; }
bool IsRGBLike(TColorModel model) { return model == cmRGB || model == cmRGBA; }
bool IsBGRLike(TColorModel model) { return model == cmBGR || model == cmBGRA; }
bool HasAlpha(TColorModel model) { return model == cmGrayAlpha || model == cmRGBA || model == cmBGRA; }

bool Selected(std::uint8_t mask, std::uint32_t pixel) { return (mask & (0x80u >> (pixel & 7u))) != 0; }

// 16-bit samples are in the machine's order (least significant byte first) unless the file
// stores them the other way round.
std::uint16_t Read16(const std::uint8_t* bytes, bool swapBytes) {
  return swapBytes ? static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1])
                   : static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0]);
}

void Write16(std::uint8_t* bytes, std::uint32_t value, bool swapBytes) {
  std::uint8_t low = static_cast<std::uint8_t>(value);
  std::uint8_t high = static_cast<std::uint8_t>(value >> 8);
  bytes[0] = swapBytes ? high : low;
  bytes[1] = swapBytes ? low : high;
}

// Truncating on purpose: only 65535 becomes 255, as the files' writers expect.
std::uint8_t Scale16To8(std::uint32_t value) { return static_cast<std::uint8_t>(value * 255u / 65535u); }

std::uint8_t ClampToByte(long value) { return static_cast<std::uint8_t>(std::clamp(value, 0L, 255L)); }

// `width` bits (1 to 16) at bit `position` of a row packed most significant bit first.
std::uint32_t ReadBits(const std::uint8_t* row, std::uint64_t position, unsigned width) {
  std::uint32_t value = 0;
  while (width > 0) {
    unsigned offset = static_cast<unsigned>(position & 7u);
    unsigned take = std::min(width, 8u - offset);
    unsigned shift = 8u - offset - take;
    value = (value << take) | ((row[position >> 3] >> shift) & ((1u << take) - 1u));
    position += take;
    width -= take;
  }
  return value;
}

// Stores `width` bits at bit `position`, keeping the other bits of the bytes it touches.
void WriteBits(std::uint8_t* row, std::uint64_t position, unsigned width, std::uint32_t value) {
  while (width > 0) {
    unsigned offset = static_cast<unsigned>(position & 7u);
    unsigned put = std::min(width, 8u - offset);
    unsigned shift = 8u - offset - put;
    unsigned field = ((1u << put) - 1u) << shift;
    unsigned bits = ((value >> (width - put)) << shift) & field;
    std::uint8_t& byte = row[position >> 3];
    byte = static_cast<std::uint8_t>((byte & ~field) | bits);
    position += put;
    width -= put;
  }
}

// Walks the pixels of one interleaved row, or of several planes in step.
class TSourceCursor {
 public:
  TSourceCursor(std::span<const std::uint8_t* const> sources, bool planar, unsigned sampleBytes,
                unsigned samplesPerPixel)
      : planar_(planar), sampleBytes_(sampleBytes) {
    planeCount_ = planar ? std::min<std::size_t>(sources.size(), planes_.size()) : 1;
    std::copy_n(sources.begin(), planeCount_, planes_.begin());
    pixelBytes_ = planar ? sampleBytes : std::size_t{sampleBytes} * samplesPerPixel;
  }

  const std::uint8_t* Sample(unsigned index) const {
    return planar_ ? planes_[index] : planes_[0] + std::size_t{index} * sampleBytes_;
  }

  void Next() {
    for (std::size_t i = 0; i < planeCount_; ++i) planes_[i] += pixelBytes_;
  }

 private:
  std::array<const std::uint8_t*, 4> planes_{};
  std::size_t planeCount_ = 1;
  bool planar_;
  unsigned sampleBytes_;
  std::size_t pixelBytes_ = 0;
};

// Calls `convert(pixel)` for every pixel of the row whose mask bit is set.
template <typename Convert>
void ForEachSelected(std::uint32_t count, std::uint8_t mask, Convert&& convert) {
  if (mask == 0xFF) {
    for (std::uint32_t pixel = 0; pixel < count; ++pixel) convert(pixel);
  } else {
    for (std::uint32_t pixel = 0; pixel < count; ++pixel)
      if (Selected(mask, pixel)) convert(pixel);
  }
}

// Colour converters write 3 bytes per pixel, 4 when the target scheme has an alpha byte.
std::size_t TargetPixelBytes(TColorModel target) { return HasAlpha(target) ? 4 : 3; }

// A chroma table entry. Luma coefficients come from files, so the factors may be infinite
// or not a number; the clamp keeps every sum of luma and two entries inside 32 bits and
// still saturates the same way once the sum is clamped to a byte.
std::int32_t ChromaEntry(float value) {
  if (std::isnan(value)) return 0;
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(value, -65536.0f, 65536.0f)));
}

}  // namespace

// The row converters. Each gets the manager (for its settings and tables), the source
// pointers, the target row, the pixel count and the mask, and touches nothing outside the
// row sizes described in the header.
struct TRowConverters {
  // Indices (and grey levels below 16 bits) packed most significant bits first.
  static void IndexedNToN(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                          std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned sourceBits = manager.sourceBits_;
    const unsigned targetBits = manager.targetBits_;
    const std::uint8_t* source = sources[0];
    if (sourceBits == targetBits && mask == 0xFF) {
      const auto bytes = static_cast<std::size_t>((std::uint64_t{count} * sourceBits + 7) / 8);
      if (bytes) std::memcpy(target, source, bytes);
      return;
    }
    // A palette index names an entry: widening it must not move it to another entry. Grey
    // levels, and indices that must shrink, are rescaled so the extremes stay the extremes.
    const bool keepValue = manager.sourceModel_ == cmIndexed && targetBits >= sourceBits;
    const std::uint32_t sourceMax = (1u << sourceBits) - 1u;
    const std::uint32_t targetMax = (1u << targetBits) - 1u;
    std::uint64_t readPosition = 0;
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      std::uint32_t value = ReadBits(source, readPosition, sourceBits);
      readPosition += sourceBits;
      if (!keepValue) value = value * targetMax / sourceMax;
      WriteBits(target, std::uint64_t{pixel} * targetBits, targetBits, value);
    });
  }

  static void Indexed16ToN(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                           std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned targetBits = manager.targetBits_;
    const std::uint32_t targetMax = (1u << targetBits) - 1u;
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const std::uint8_t* source = sources[0];
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      std::uint32_t value = Read16(source, swapBytes) * targetMax / 65535u;
      source += 2;
      WriteBits(target, std::uint64_t{pixel} * targetBits, targetBits, value);
    });
  }

  // Widening keeps the index, as in IndexedNToN.
  static void IndexedNTo16(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                           std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned sourceBits = manager.sourceBits_;
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const std::uint8_t* source = sources[0];
    std::uint64_t readPosition = 0;
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      std::uint32_t value = ReadBits(source, readPosition, sourceBits);
      readPosition += sourceBits;
      Write16(target + std::size_t{pixel} * 2, value, swapBytes);
    });
  }

  static void Indexed16To16(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                            std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const std::uint8_t* source = sources[0];
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      Write16(target + std::size_t{pixel} * 2, Read16(source, swapBytes), false);
      source += 2;
    });
  }

  // Grey levels of 8 or 16 bits, with or without an alpha sample (which is skipped). Given
  // planes, only the first (the grey plane) is read.
  static void Gray(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                   std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned sourceBits = manager.sourceBits_;
    const unsigned targetBits = manager.targetBits_;
    if ((sourceBits != 8 && sourceBits != 16) || (targetBits != 8 && targetBits != 16)) return;
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const std::size_t samplesStepped = sources.size() > 1 ? 1 : manager.sourceSamples_;
    const std::size_t pixelBytes = samplesStepped * (sourceBits / 8);
    const std::uint8_t* source = sources[0];
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      std::uint32_t wide = sourceBits == 8 ? source[0] * 257u : Read16(source, swapBytes);
      source += pixelBytes;
      if (targetBits == 8)
        target[pixel] = sourceBits == 8 ? static_cast<std::uint8_t>(wide >> 8) : Scale16To8(wide);
      else
        Write16(target + std::size_t{pixel} * 2, wide, false);
    });
  }

  // RGB and BGR in either order, with an optional alpha sample.
  template <bool SourceBGR, bool TargetBGR>
  static void RGBFamily(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                        std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    if (manager.targetBits_ != 8) return;
    if (manager.sourceBits_ == 8) RGBRow<SourceBGR, TargetBGR, 1>(manager, sources, target, count, mask);
    if (manager.sourceBits_ == 16) RGBRow<SourceBGR, TargetBGR, 2>(manager, sources, target, count, mask);
  }

  // The sample width is fixed at compile time: this is the row every true-colour reader
  // converts.
  template <bool SourceBGR, bool TargetBGR, unsigned SampleBytes>
  static void RGBRow(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                     std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const bool gamma = manager.TargetFlags.Contains(cfGammaCorrect);
    const bool copyAlpha = HasAlpha(manager.sourceModel_) && HasAlpha(manager.targetModel_);
    const std::size_t targetPixel = TargetPixelBytes(manager.targetModel_);
    const auto& gammaTable = manager.gammaTable_;
    auto plain = [&](const std::uint8_t* sample) -> std::uint8_t {
      if constexpr (SampleBytes == 1)
        return sample[0];
      else
        return Scale16To8(Read16(sample, swapBytes));
    };
    auto colour = [&](const std::uint8_t* sample) -> std::uint8_t {
      std::uint8_t value = plain(sample);
      return gamma ? gammaTable[value] : value;
    };
    // `sample(i)` is the pixel's i-th sample.
    auto convert = [&](std::uint32_t pixel, auto sample) {
      std::uint8_t first = colour(sample(0));
      std::uint8_t second = colour(sample(1));
      std::uint8_t third = colour(sample(2));
      std::uint8_t* out = target + std::size_t{pixel} * targetPixel;
      if constexpr (SourceBGR == TargetBGR) {
        out[0] = first;
        out[2] = third;
      } else {
        out[0] = third;
        out[2] = first;
      }
      out[1] = second;
      if (copyAlpha) out[3] = plain(sample(3));
    };
    if (sources.size() == 1) {
      // Interleaved samples, as nearly every file stores them: stepped through directly.
      const std::uint8_t* in = sources[0];
      const std::size_t step = std::size_t{SampleBytes} * manager.sourceSamples_;
      ForEachSelected(count, mask, [&](std::uint32_t pixel) {
        convert(pixel, [in](unsigned i) { return in + std::size_t{i} * SampleBytes; });
        in += step;
      });
      return;
    }
    TSourceCursor cursor(sources, true, SampleBytes, manager.sourceSamples_);
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      convert(pixel, [&cursor](unsigned i) { return cursor.Sample(i); });
      cursor.Next();
    });
  }

  // Cyan, magenta and yellow each darken their complement, and black darkens all three.
  template <bool TargetBGR>
  static void CMYK(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                   std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned sourceBits = manager.sourceBits_;
    if ((sourceBits != 8 && sourceBits != 16) || manager.targetBits_ != 8) return;
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const std::size_t targetPixel = TargetPixelBytes(manager.targetModel_);
    TSourceCursor cursor(sources, sources.size() > 1, sourceBits / 8, manager.sourceSamples_);
    auto combine = [&](const std::uint8_t* colourSample, const std::uint8_t* blackSample) -> std::uint8_t {
      if (sourceBits == 8) {
        long x = colourSample[0];
        long k = blackSample[0];
        return ClampToByte(x * k / 255 - x - k + 255);
      }
      std::uint32_t x = Read16(colourSample, swapBytes);
      std::uint32_t k = Read16(blackSample, swapBytes);
      std::uint32_t ink = (x + k - x * k / 65535u) & 0xFFFFu;
      return ClampToByte(255L - static_cast<long>(ink * 255u / 65535u));
    };
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      const std::uint8_t* black = cursor.Sample(3);
      std::uint8_t red = combine(cursor.Sample(0), black);
      std::uint8_t green = combine(cursor.Sample(1), black);
      std::uint8_t blue = combine(cursor.Sample(2), black);
      std::uint8_t* out = target + std::size_t{pixel} * targetPixel;
      out[0] = TargetBGR ? blue : red;
      out[1] = green;
      out[2] = TargetBGR ? red : blue;
      cursor.Next();
    });
  }

  // CIE L*a*b* through XYZ to RGB.
  template <bool TargetBGR>
  static void Lab(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                  std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned sourceBits = manager.sourceBits_;
    if ((sourceBits != 8 && sourceBits != 16) || manager.targetBits_ != 8) return;
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const bool scaledL = manager.SourceFlags.Contains(cfLabScaledL);
    const bool offsetAB = manager.SourceFlags.Contains(cfLabOffsetAB);
    const std::size_t targetPixel = TargetPixelBytes(manager.targetModel_);
    TSourceCursor cursor(sources, sources.size() > 1, sourceBits / 8, manager.sourceSamples_);
    auto unsignedSample = [&](const std::uint8_t* sample) -> long {
      return sourceBits == 8 ? sample[0] : Read16(sample, swapBytes);
    };
    auto chroma = [&](const std::uint8_t* sample) -> long {
      long value = unsignedSample(sample);
      if (offsetAB) return value - 128;
      return sourceBits == 8 ? static_cast<std::int8_t>(value) : static_cast<std::int16_t>(value);
    };
    auto toByte = [](long double value) -> std::uint8_t {
      value *= 255.0L;
      if (!(value > 0.0L)) return 0;
      if (value >= 255.0L) return 255;
      return static_cast<std::uint8_t>(std::nearbyint(value));
    };
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      long double l = unsignedSample(cursor.Sample(0));
      if (scaledL) l /= 2.55L;
      long double a = chroma(cursor.Sample(1));
      long double b = chroma(cursor.Sample(2));
      long double x, y, z;
      if (l < 7.9996L) {
        y = l / 903.3L;
        x = y + a / 3893.5L;
        z = y - b / 1557.4L;
      } else {
        long double f = (l + 16.0L) / 116.0L;
        long double fx = f + a / 500.0L;
        long double fz = f - b / 200.0L;
        x = fx * fx * fx;
        y = f * f * f;
        z = fz * fz * fz;
      }
      std::uint8_t red = toByte(2.998L * x - 1.458L * y - 0.541L * z);
      std::uint8_t green = toByte(-0.952L * x + 1.893L * y + 0.059L * z);
      std::uint8_t blue = toByte(0.099L * x - 0.198L * y + 1.099L * z);
      std::uint8_t* out = target + std::size_t{pixel} * targetPixel;
      out[0] = TargetBGR ? blue : red;
      out[1] = green;
      out[2] = TargetBGR ? red : blue;
      cursor.Next();
    });
  }

  // YCbCr and PhotoYCC differ only in the chroma tables SelectConverter built.
  template <bool TargetBGR>
  static void LumaChroma(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                         std::uint8_t* target, std::uint32_t count, std::uint8_t mask) {
    const unsigned sourceBits = manager.sourceBits_;
    if ((sourceBits != 8 && sourceBits != 16) || manager.targetBits_ != 8) return;
    const bool swapBytes = manager.SourceFlags.Contains(cfSwapBytes);
    const std::size_t targetPixel = TargetPixelBytes(manager.targetModel_);
    TSourceCursor cursor(sources, sources.size() > 1, sourceBits / 8, manager.sourceSamples_);
    auto sample8 = [&](const std::uint8_t* sample) -> std::uint8_t {
      return sourceBits == 8 ? sample[0] : Scale16To8(Read16(sample, swapBytes));
    };
    ForEachSelected(count, mask, [&](std::uint32_t pixel) {
      long luma = sample8(cursor.Sample(0));
      std::uint8_t cb = sample8(cursor.Sample(1));
      std::uint8_t cr = sample8(cursor.Sample(2));
      std::uint8_t red = ClampToByte(luma + manager.crToRed_[cr]);
      std::uint8_t green = ClampToByte(luma + manager.cbToGreen_[cb] + manager.crToGreen_[cr]);
      std::uint8_t blue = ClampToByte(luma + manager.cbToBlue_[cb]);
      std::uint8_t* out = target + std::size_t{pixel} * targetPixel;
      out[0] = TargetBGR ? blue : red;
      out[1] = green;
      out[2] = TargetBGR ? red : blue;
      cursor.Next();
    });
  }
};

TColorManager::TColorManager() { SetGammaValues(1.0f, 2.2f); }

void TColorManager::SetSourceBits(unsigned bits) {
  if (bits == 0 || bits > 16) throw EColorConversionError(kInvalidBits);
  if (bits != sourceBits_) {
    sourceBits_ = static_cast<std::uint8_t>(bits);
    changed_ = true;
  }
}

void TColorManager::SetTargetBits(unsigned bits) {
  if (bits == 0 || bits > 16) throw EColorConversionError(kInvalidBits);
  if (bits != targetBits_) {
    targetBits_ = static_cast<std::uint8_t>(bits);
    changed_ = true;
  }
}

void TColorManager::SetSourceSamples(unsigned samples) {
  if (samples == 0 || samples > 4) throw EColorConversionError(kInvalidSamples);
  if (samples != sourceSamples_) {
    sourceSamples_ = static_cast<std::uint8_t>(samples);
    changed_ = true;
  }
}

void TColorManager::SetTargetSamples(unsigned samples) {
  if (samples == 0 || samples > 4) throw EColorConversionError(kInvalidSamples);
  if (samples != targetSamples_) {
    targetSamples_ = static_cast<std::uint8_t>(samples);
    changed_ = true;
  }
}

void TColorManager::SetSourceModel(TColorModel model) {
  if (model != sourceModel_) {
    sourceModel_ = model;
    changed_ = true;
  }
}

void TColorManager::SetTargetModel(TColorModel model) {
  if (model != targetModel_) {
    targetModel_ = model;
    changed_ = true;
  }
}

void TColorManager::SetGammaValues(float mainGamma, float displayGamma) {
  mainGamma_ = mainGamma > 0.0f ? mainGamma : 1.0f;
  displayGamma_ = displayGamma > 0.0f ? displayGamma : 2.2f;
  const float exponent = 1.0f / (mainGamma_ * displayGamma_);
  const unsigned targetBound = targetBits_ >= 8 ? 255u : (1u << targetBits_) - 1u;
  // Sources below 8 bits index the table by target values; the table has 256 entries, so
  // wide targets cannot extend it.
  const unsigned sourceBound = sourceBits_ >= 8 ? 255u : std::min((1u << targetBits_) - 1u, 255u);
  for (unsigned i = 0; i <= sourceBound; ++i) {
    double level = std::pow(static_cast<double>(i) / sourceBound, static_cast<double>(exponent)) * targetBound;
    if (!(level >= 0.0)) level = 0.0;
    gammaTable_[i] = static_cast<std::uint8_t>(std::min(std::nearbyint(level), 255.0));
  }
}

void TColorManager::SetYCbCrLayout(const std::vector<float>& coefficients, unsigned horizontal, unsigned vertical) {
  for (std::size_t i = 0; i < std::min<std::size_t>(coefficients.size(), lumaCoefficients_.size()); ++i)
    lumaCoefficients_[i] = coefficients[i];
  auto valid = [](unsigned value) { return value == 1 || value == 2 || value == 4; };
  if (!valid(horizontal) || !valid(vertical)) throw EColorConversionError(kInvalidSubsampling);
  if (vertical > horizontal) throw EColorConversionError(kSubsamplingOrder);
  horizontalSubsampling_ = static_cast<std::uint8_t>(horizontal);
  verticalSubsampling_ = static_cast<std::uint8_t>(vertical);
}

void TColorManager::BuildChromaTables(int redOffset, int blueOffset) {
  const float kr = lumaCoefficients_[0];
  const float kg = lumaCoefficients_[1];
  const float kb = lumaCoefficients_[2];
  const float f1 = 2.0f - 2.0f * kr;
  const float f2 = kr * f1 / kg;
  const float f3 = 2.0f - 2.0f * kb;
  const float f4 = kb * f3 / kg;
  for (int i = 0; i < 256; ++i) {
    const float red = static_cast<float>(i - redOffset);
    const float blue = static_cast<float>(i - blueOffset);
    crToRed_[i] = ChromaEntry(f1 * red);
    cbToBlue_[i] = ChromaEntry(f3 * blue);
    crToGreen_[i] = -ChromaEntry(f2 * red);
    cbToGreen_[i] = -ChromaEntry(f4 * blue);
  }
}

void TColorManager::SelectConverter() {
  converter_ = nullptr;
  if (IsIndexedSource(sourceModel_) != IsIndexedTarget(targetModel_)) throw EColorConversionError(kIndexedMix);

  if (HasAlpha(sourceModel_))
    SourceFlags.Include(cfAlpha);
  else
    SourceFlags.Exclude(cfAlpha);
  if (HasAlpha(targetModel_))
    TargetFlags.Include(cfAlpha);
  else
    TargetFlags.Exclude(cfAlpha);

  const unsigned sourceBits = sourceBits_;
  const unsigned targetBits = targetBits_;
  const bool toRGB = IsRGBLike(targetModel_);
  const bool toBGR = IsBGRLike(targetModel_);
  switch (sourceModel_) {
    case cmIndexed:
      if (sourceBits == 16 && targetBits == 16)
        converter_ = &TRowConverters::Indexed16To16;
      else if (sourceBits == 16)
        converter_ = &TRowConverters::Indexed16ToN;
      else if (targetBits == 16)
        converter_ = &TRowConverters::IndexedNTo16;
      else
        converter_ = &TRowConverters::IndexedNToN;
      break;
    case cmGray:
      if (sourceBits != 16 && targetBits != 16)
        converter_ = &TRowConverters::IndexedNToN;
      else if (sourceBits >= 8 && targetBits >= 8)
        converter_ = &TRowConverters::Gray;
      break;
    case cmGrayAlpha:
      if ((sourceBits == 8 || sourceBits == 16) && (targetBits == 8 || targetBits == 16))
        converter_ = &TRowConverters::Gray;
      break;
    case cmRGB:
    case cmRGBA:
      if (toRGB) converter_ = &TRowConverters::RGBFamily<false, false>;
      if (toBGR) converter_ = &TRowConverters::RGBFamily<false, true>;
      break;
    case cmBGR:
    case cmBGRA:
      if (toRGB) converter_ = &TRowConverters::RGBFamily<true, false>;
      if (toBGR) converter_ = &TRowConverters::RGBFamily<true, true>;
      break;
    case cmCMYK:
      if (toRGB) converter_ = &TRowConverters::CMYK<false>;
      if (toBGR) converter_ = &TRowConverters::CMYK<true>;
      break;
    case cmLab:
      if (toRGB) converter_ = &TRowConverters::Lab<false>;
      if (toBGR) converter_ = &TRowConverters::Lab<true>;
      break;
    case cmYCbCr:
      BuildChromaTables(128, 128);
      if (toRGB) converter_ = &TRowConverters::LumaChroma<false>;
      if (toBGR) converter_ = &TRowConverters::LumaChroma<true>;
      break;
    case cmPhotoYCC:
      BuildChromaTables(137, 156);
      if (toRGB) converter_ = &TRowConverters::LumaChroma<false>;
      if (toBGR) converter_ = &TRowConverters::LumaChroma<true>;
      break;
    default:
      break;
  }
  changed_ = false;
}

// A converter reads a fixed number of samples per pixel; a row that holds fewer (too few
// planes, or an interleaved pixel narrower than its scheme) has no converter.
void TColorManager::CheckSourceLayout(std::size_t planeCount) const {
  if (planeCount == 0) throw EColorConversionError(kNoConverter);
  bool planar = planeCount > 1;
  std::size_t needed = 3;
  switch (sourceModel_) {
    case cmIndexed:
    case cmGray:
    case cmGrayAlpha:
      return;  // one sample per pixel read, from the first pointer
    case cmCMYK:
      needed = 4;
      break;
    default:
      if (HasAlpha(sourceModel_) && HasAlpha(targetModel_)) needed = 4;
      break;
  }
  if ((planar ? planeCount : std::size_t{sourceSamples_}) < needed) throw EColorConversionError(kNoConverter);
}

void TColorManager::TranslateRow(const std::uint8_t* source, void* target, std::uint32_t count, std::uint8_t mask) {
  const std::uint8_t* planes[1] = {source};
  TranslateRow(std::span<const std::uint8_t* const>(planes), target, count, mask);
}

void TColorManager::TranslateRow(std::span<const std::uint8_t* const> sources, void* target, std::uint32_t count,
                                 std::uint8_t mask) {
  if (changed_) SelectConverter();
  if (!converter_) throw EColorConversionError(kNoConverter);
  CheckSourceLayout(sources.size());
  converter_(*this, sources, static_cast<std::uint8_t*>(target), count, mask);
}

TPixelDepth TColorManager::BitmapDepth(TColorSide side) const {
  const unsigned samples = side == TColorSide::Source ? sourceSamples_ : targetSamples_;
  const unsigned bits = side == TColorSide::Source ? sourceBits_ : targetBits_;
  switch (samples) {
    case 1:
      if (bits == 1) return pd1Bit;
      if (bits <= 4) return pd4Bit;
      if (bits >= 8) return pd8Bit;
      return pdCustom;
    case 3:
      return bits <= 5 ? pd15Bit : pd24Bit;
    case 4:
      return bits >= 8 ? pd32Bit : pdCustom;
    default:
      return pdCustom;
  }
}

TPalette TColorManager::BuildGrayPalette(bool minimumIsWhite) const {
  const unsigned bits = std::min(unsigned{targetBits_} * targetSamples_, 8u);
  const unsigned entries = 1u << bits;
  const unsigned step = 255u / (entries - 1u);
  const bool gamma = TargetFlags.Contains(cfGammaCorrect);
  TPalette palette(entries);
  for (unsigned k = 0; k < entries; ++k) {
    std::uint8_t level = static_cast<std::uint8_t>(k * step);
    if (gamma) level = gammaTable_[level];
    palette[minimumIsWhite ? entries - 1u - k : k] = TPaletteEntry{level, level, level, 0};
  }
  return palette;
}

TPalette TColorManager::BuildPalette(std::span<const std::uint8_t* const> data, TPaletteLayout layout,
                                     std::uint32_t count, bool blueFirst) const {
  if (layout > plPlanar16Quad) throw EColorConversionError(kNoConverter);
  const bool planar = layout == plPlanar8Triple || layout == plPlanar8Quad || layout == plPlanar16Triple ||
                      layout == plPlanar16Quad;
  const bool wide = layout >= plInterleaved16Triple;
  const bool quad = layout == plInterleaved8Quad || layout == plInterleaved16Quad;
  const std::size_t pointers = planar ? 3 : 1;
  if (data.size() < pointers || std::any_of(data.begin(), data.begin() + pointers, [](auto p) { return !p; }))
    throw EColorConversionError(kNoConverter);

  const bool swapBytes = SourceFlags.Contains(cfSwapBytes);
  const bool gamma = TargetFlags.Contains(cfGammaCorrect);
  const std::size_t valueBytes = wide ? 2 : 1;
  auto value = [&](const std::uint8_t* at) -> std::uint8_t {
    std::uint8_t level = wide ? Scale16To8(Read16(at, swapBytes)) : at[0];
    return gamma ? gammaTable_[level] : level;
  };

  TPalette palette(std::min<std::uint32_t>(count, 256));
  for (std::size_t k = 0; k < palette.size(); ++k) {
    TPaletteEntry& entry = palette[k];
    if (planar) {
      entry.Red = value(data[0] + k * valueBytes);
      entry.Green = value(data[1] + k * valueBytes);
      entry.Blue = value(data[2] + k * valueBytes);
    } else {
      const std::uint8_t* at = data[0] + k * (quad ? 4 : 3) * valueBytes;
      std::uint8_t first = value(at);
      std::uint8_t second = value(at + valueBytes);
      std::uint8_t third = value(at + 2 * valueBytes);
      entry.Red = blueFirst ? third : first;
      entry.Green = second;
      entry.Blue = blueFirst ? first : third;
    }
  }
  return palette;
}

}  // namespace driftpost
