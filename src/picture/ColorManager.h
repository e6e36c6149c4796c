// The colour conversion manager: turns rows of pixels from the layout a picture file stores
// (colour scheme, bits per sample, samples per pixel, interleaved or planar, byte order) into
// the layout of a reader's bitmap (8-bit blue, green, red samples, or palette indices). A
// reader describes both sides through the setters, then calls TranslateRow once per row; the
// row converter for the combination is chosen once and kept until a setting changes. The
// manager also says which bitmap pixel depth fits a side, builds palettes from raw palette
// data and applies gamma correction through a 256-entry table.
//
// Each reader owns its manager; it knows nothing of bitmaps and owns no pixel memory.
//
// Row sizes (what TranslateRow reads and writes, and all it touches):
// - Source rows. `selected` is the number of the row's `count` pixels whose mask bit is set.
//   An interleaved source (one pointer) holds selected × source samples × source bits bits,
//   rounded up to whole bytes; each plane of a planar source holds selected × source bits
//   bits, rounded up.
// - Target rows. Indexed and grey targets (cmIndexed, cmGray) hold count × target bits bits,
//   rounded up to whole bytes. Colour targets hold count pixels of 3 bytes, or of 4 bytes
//   when the target scheme carries alpha (cmRGBA, cmBGRA); the target samples setting does
//   not change that (a reader may give a 32-bit bitmap a scheme with alpha).
// Combinations that would need more source samples or planes than these sizes provide (for
// example an interleaved cmRGB source with one sample per pixel) are refused like any other
// unconvertible combination.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "picture/PixelDepth.h"
#include "platform/Exception.h"

namespace driftpost {

// Every failure of the colour manager: bad settings and combinations without a converter.
class EColorConversionError : public Exception {
 public:
  using Exception::Exception;
};

// How a file stores the samples of one pixel.
enum TColorModel : std::uint8_t {
  cmUnknown = 0,    // no conversion exists
  cmIndexed = 1,    // palette index
  cmGray = 2,       // grey level
  cmGrayAlpha = 3,  // grey level, alpha
  cmRGB = 4,
  cmRGBA = 5,
  cmBGR = 6,
  cmBGRA = 7,
  cmCMY = 8,  // no conversion exists
  cmCMYK = 9,
  cmLab = 10,       // CIE L*a*b*
  cmYCbCr = 11,     // luma, blue chroma, red chroma
  cmPhotoYCC = 12,  // Photo-CD luma, chroma 1, chroma 2
};

enum TConversionFlag : std::uint8_t {
  cfAlpha = 0,         // both sides: the pixels carry alpha; kept in step with the schemes
  cfGammaCorrect = 1,  // target: 8-bit colour values pass through the gamma table
  cfSwapBytes = 2,     // source: 16-bit samples are stored most significant byte first
  cfLabScaledL = 3,    // source: Lab lightness is stored as 0..255 instead of 0..100
  cfLabOffsetAB = 4,   // source: Lab a and b are stored with an offset of 128
};

// A set of conversion flags, one bit per flag, as a reader writes it:
// `manager.SourceFlags = {cfSwapBytes};` or `manager.TargetFlags.Include(cfGammaCorrect);`.
class TConversionFlags {
 public:
  constexpr TConversionFlags() = default;
  constexpr TConversionFlags(std::initializer_list<TConversionFlag> flags) {
    for (TConversionFlag flag : flags) Include(flag);
  }
  constexpr bool Contains(TConversionFlag flag) const { return (bits_ >> flag) & 1u; }
  constexpr void Include(TConversionFlag flag) { bits_ = static_cast<std::uint8_t>(bits_ | (1u << flag)); }
  constexpr void Exclude(TConversionFlag flag) { bits_ = static_cast<std::uint8_t>(bits_ & ~(1u << flag)); }
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TConversionFlags&) const = default;

 private:
  std::uint8_t bits_ = 0;
};

// The raw palette layouts BuildPalette reads. "Quad" entries carry a fourth value that is
// ignored; planar layouts take three pointers (red, green, blue planes).
enum TPaletteLayout : std::uint8_t {
  plInterleaved8Triple = 0,   // 3 bytes per entry
  plInterleaved8Quad = 1,     // 4 bytes per entry
  plPlanar8Triple = 2,        // three planes of bytes
  plPlanar8Quad = 3,          // the same
  plInterleaved16Triple = 4,  // three 16-bit values per entry
  plInterleaved16Quad = 5,    // four 16-bit values per entry
  plPlanar16Triple = 6,       // three planes of 16-bit values
  plPlanar16Quad = 7,         // the same
};

// One palette colour, laid out as a logical palette entry. Flags is always 0.
struct TPaletteEntry {
  std::uint8_t Red = 0;
  std::uint8_t Green = 0;
  std::uint8_t Blue = 0;
  std::uint8_t Flags = 0;
  bool operator==(const TPaletteEntry&) const = default;
};

// Up to 256 entries; the bitmap takes it over as its colour table.
using TPalette = std::vector<TPaletteEntry>;

enum class TColorSide { Source, Target };

class TColorManager {
 public:
  TColorManager();

  // Bits per sample, 1 to 16; 0 and anything above 16 raise EColorConversionError.
  void SetSourceBits(unsigned bits);
  void SetTargetBits(unsigned bits);
  // Samples per pixel, 1 to 4; 0 and anything above 4 raise EColorConversionError.
  void SetSourceSamples(unsigned samples);
  void SetTargetSamples(unsigned samples);
  void SetSourceModel(TColorModel model);
  void SetTargetModel(TColorModel model);

  std::uint8_t SourceBits() const { return sourceBits_; }
  std::uint8_t TargetBits() const { return targetBits_; }
  std::uint8_t SourceSamples() const { return sourceSamples_; }
  std::uint8_t TargetSamples() const { return targetSamples_; }
  TColorModel SourceModel() const { return sourceModel_; }
  TColorModel TargetModel() const { return targetModel_; }

  // Rebuilds the gamma table for an image gamma and a display gamma (values not above 0 fall
  // back to 1.0 and 2.2). Uses the bits per sample set at the time of the call.
  void SetGammaValues(float mainGamma, float displayGamma);
  float MainGamma() const { return mainGamma_; }
  float DisplayGamma() const { return displayGamma_; }
  const std::array<std::uint8_t, 256>& GammaTable() const { return gammaTable_; }

  // Stores up to three luma coefficients (red, green, blue; missing ones keep their values),
  // then checks and stores the chroma subsampling (1, 2 or 4; vertical not above horizontal).
  void SetYCbCrLayout(const std::vector<float>& coefficients, unsigned horizontal, unsigned vertical);
  const std::array<float, 3>& YCbCrCoefficients() const { return lumaCoefficients_; }
  std::uint8_t HorizontalSubsampling() const { return horizontalSubsampling_; }
  std::uint8_t VerticalSubsampling() const { return verticalSubsampling_; }

  // Chooses the row converter for the current settings and brings cfAlpha of both flag sets
  // in line with the schemes. Raises for a conversion between indexed and colour data; any
  // other combination without a converter leaves none selected.
  void SelectConverter();
  // True after a setting changed and until the next SelectConverter.
  bool Changed() const { return changed_; }

  // Converts one row of `count` target pixels. Mask bit 7 stands for the first pixel of
  // every group of eight, bit 0 for the last; a pixel whose bit is clear is left as it was
  // and consumes no source pixel. A single source pointer is interleaved data; several are
  // planes in the scheme's sample order, alpha last (grey and indexed data read the first
  // plane only). Raises EColorConversionError when no converter fits the settings, and when
  // the row has fewer planes, or an interleaved pixel fewer samples, than the converter reads.
  void TranslateRow(const std::uint8_t* source, void* target, std::uint32_t count, std::uint8_t mask = 0xFF);
  void TranslateRow(std::span<const std::uint8_t* const> sources, void* target, std::uint32_t count,
                    std::uint8_t mask = 0xFF);

  // The bitmap pixel depth that fits a side's samples per pixel and bits per sample.
  TPixelDepth BitmapDepth(TColorSide side = TColorSide::Target) const;

  // A ramp of 2^min(target bits × target samples, 8) greys from black to white (white to
  // black when `minimumIsWhite`), through the gamma table when the target asks for it.
  TPalette BuildGrayPalette(bool minimumIsWhite) const;
  // A palette of min(count, 256) entries from raw palette data. For the interleaved layouts
  // `blueFirst` says the entries are stored blue, green, red. 16-bit values honour the
  // source's cfSwapBytes; the target's cfGammaCorrect applies to every value. The data must
  // hold the entries read; too few pointers for the layout raise EColorConversionError.
  TPalette BuildPalette(std::span<const std::uint8_t* const> data, TPaletteLayout layout, std::uint32_t count,
                        bool blueFirst) const;

  TConversionFlags SourceFlags;
  TConversionFlags TargetFlags;

 private:
  friend struct TRowConverters;
  using TRowConverter = void (*)(const TColorManager& manager, std::span<const std::uint8_t* const> sources,
                                 std::uint8_t* target, std::uint32_t count, std::uint8_t mask);

  void BuildChromaTables(int redOffset, int blueOffset);
  void CheckSourceLayout(std::size_t planeCount) const;

  bool changed_ = true;
  std::uint8_t sourceBits_ = 8;
  std::uint8_t targetBits_ = 8;
  std::uint8_t sourceSamples_ = 3;
  std::uint8_t targetSamples_ = 3;
  float mainGamma_ = 1.0f;
  float displayGamma_ = 2.2f;
  std::array<std::uint8_t, 256> gammaTable_{};
  std::array<float, 3> lumaCoefficients_ = {0.299f, 0.587f, 0.114f};
  std::uint8_t horizontalSubsampling_ = 1;
  std::uint8_t verticalSubsampling_ = 1;
  std::array<std::int32_t, 256> crToRed_{};
  std::array<std::int32_t, 256> cbToBlue_{};
  std::array<std::int32_t, 256> crToGreen_{};
  std::array<std::int32_t, 256> cbToGreen_{};
  TColorModel sourceModel_ = cmRGB;
  TColorModel targetModel_ = cmBGR;
  TRowConverter converter_ = nullptr;
};

}  // namespace driftpost
