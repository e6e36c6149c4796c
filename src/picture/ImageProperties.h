// TImageProperties: what a reader learns from a file's header before it decodes the pixels.
// Each reader fills the fields its format has and leaves the others at their cleared values.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/ColorManager.h"

namespace driftpost {

// Bits of TImageProperties::Options.
enum TImageOption : std::uint8_t {
  opTiled = 1 << 0,         // tiles instead of strips
  opBigEndian = 1 << 1,     // multi-byte samples stored most significant byte first
  opMinIsWhite = 1 << 2,    // grey level 0 is white
  opReversedBits = 1 << 3,  // the bits of each byte run least significant first
  opGammaApplied = 1 << 4,  // the reader switched gamma correction on
};

enum TCompressionType : std::uint8_t {
  cpUnknown = 0,
  cpNone = 1,
  cpRLE = 2,
  cpPackBits = 3,
  cpLZW = 4,
  cpCCITTFax3 = 5,
  cpCCITTMH = 6,
  cpCCITTFax4 = 7,
  cpCCITTMHWord = 8,
  cpDeflate = 9,
  cpJPEG = 10,
  cpOldJPEG = 11,
  cpThunderScan = 12,
  cpNeXT = 13,
  cpIT8CTPad = 14,
  cpIT8LW = 15,
  cpIT8MP = 16,
  cpIT8BL = 17,
  cpPixarFilm = 18,
  cpPixarLog = 19,
  cpDCS = 20,
  cpJBIG = 21,
  cpPCDHuffman = 22,
};

using TCardinalArray = std::vector<std::uint32_t>;
using TByteArray = std::vector<std::uint8_t>;

struct TImageProperties {
  std::uint32_t Version = 0;
  std::uint8_t Options = 0;  // TImageOption bits
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  TColorModel ColorScheme = cmUnknown;
  std::uint8_t BitsPerSample = 0;
  std::uint8_t SamplesPerPixel = 0;
  std::uint8_t BitsPerPixel = 0;  // BitsPerSample × SamplesPerPixel, cut to 8 bits
  TCompressionType Compression = cpUnknown;
  float FileGamma = 1.0f;  // 1.0 when the file states none
  float XResolution = 0;
  float YResolution = 0;
  bool Interlaced = false;
  bool HasAlpha = false;
  std::uint32_t FirstIFD = 0;
  std::uint32_t PlanarConfig = 0;
  std::uint32_t CurrentRow = 0;
  std::uint32_t TileWidth = 0;
  std::uint32_t TileLength = 0;
  std::uint32_t BytesPerLine = 0;
  TCardinalArray RowsPerStrip;
  TByteArray YCbCrSubsampling;
  TByteArray JPEGTables;
  std::uint32_t JPEGColorMode = 0;
  std::uint32_t JPEGTablesMode = 0;
  std::uint32_t CurrentStrip = 0;
  std::uint32_t StripCount = 0;
  std::uint32_t Predictor = 0;
  bool Overview = false;
  std::uint8_t Orientation = 0;
  std::uint16_t ImageCount = 0;
  bool BottomUp = false;
  std::uint8_t Channels = 0;
  std::uint8_t FilterMode = 0;
};

}  // namespace driftpost
