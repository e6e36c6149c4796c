// Row conversions between bitmap pixel formats. A row of any format is expanded into 32-bit
// blue-green-red-alpha values and packed back into any other format, so every conversion,
// drawing and compositing step works on one common layout:
//   TBGRA = blue | green << 8 | red << 16 | alpha << 24.
// The alpha byte is the fourth byte of 32-bit pixels and 0 for every other format.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "picture/PixelDepth.h"

namespace driftpost {

// One palette entry as a bitmap's colour table stores it.
struct TRGBQuad {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  std::uint8_t Reserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};
static_assert(sizeof(TRGBQuad) == 4);

using TBGRA = std::uint32_t;

constexpr TBGRA MakeBGRA(std::uint8_t blue, std::uint8_t green, std::uint8_t red, std::uint8_t alpha = 0) {
  return blue | static_cast<TBGRA>(green) << 8 | static_cast<TBGRA>(red) << 16 | static_cast<TBGRA>(alpha) << 24;
}

// Expands a palette into a table of 256 values; entries the palette lacks are black.
void ExpandPalette(const std::vector<TRGBQuad>& palette, TBGRA table[256]);

// Expands the first `count` pixels of `row`. Indexed formats look their pixels up in
// `table` (256 entries, see ExpandPalette). 5-bit and 6-bit channels are widened by
// repeating their top bits, so full intensity stays 255.
void UnpackRow(const std::uint8_t* row, TPixelDepth depth, const TBGRA* table, int count, TBGRA* out);

// Finds the palette entry closest to a colour, remembering earlier answers.
class TColorMatcher {
 public:
  // Only the first `entries` palette entries are candidates.
  TColorMatcher(const std::vector<TRGBQuad>& palette, int entries);
  std::uint8_t IndexOf(TBGRA color);

 private:
  std::vector<TRGBQuad> palette_;
  std::unordered_map<TBGRA, std::uint8_t> known_;
};

// Packs `count` pixels into `row`; indexed formats need a matcher for their palette. Bits
// of a partly used last byte that lie beyond `count` pixels are cleared.
void PackRow(const TBGRA* in, int count, TPixelDepth depth, TColorMatcher* matcher, std::uint8_t* row);

// The palette a bitmap gets when it changes to an indexed format without one: black and
// white, the 16 standard colours, or a 6x6x6 colour cube followed by 40 greys.
std::vector<TRGBQuad> DefaultPalette(TPixelDepth depth);

}  // namespace driftpost
