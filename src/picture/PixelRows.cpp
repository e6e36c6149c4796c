#include "picture/PixelRows.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace driftpost {

namespace {

constexpr std::uint8_t Widen5(unsigned value) { return static_cast<std::uint8_t>(value << 3 | value >> 2); }
constexpr std::uint8_t Widen6(unsigned value) { return static_cast<std::uint8_t>(value << 2 | value >> 4); }

inline unsigned Word(const std::uint8_t* p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }

}  // namespace

void ExpandPalette(const std::vector<TRGBQuad>& palette, TBGRA table[256]) {
  const std::size_t count = std::min<std::size_t>(palette.size(), 256);
  for (std::size_t i = 0; i < count; ++i)
    table[i] = MakeBGRA(palette[i].Blue, palette[i].Green, palette[i].Red);
  for (std::size_t i = count; i < 256; ++i) table[i] = 0;
}

void UnpackRow(const std::uint8_t* row, TPixelDepth depth, const TBGRA* table, int count, TBGRA* out) {
  switch (depth) {
    case pd1Bit:
      for (int x = 0; x < count; ++x) out[x] = table[(row[x >> 3] >> (7 - (x & 7))) & 1];
      break;
    case pd4Bit:
      for (int x = 0; x < count; ++x) out[x] = table[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
      break;
    case pd8Bit:
      for (int x = 0; x < count; ++x) out[x] = table[row[x]];
      break;
    case pd15Bit:
      for (int x = 0; x < count; ++x) {
        const unsigned w = Word(row + 2 * x);
        out[x] = MakeBGRA(Widen5(w & 31), Widen5(w >> 5 & 31), Widen5(w >> 10 & 31));
      }
      break;
    case pd16Bit:
      for (int x = 0; x < count; ++x) {
        const unsigned w = Word(row + 2 * x);
        out[x] = MakeBGRA(Widen5(w & 31), Widen6(w >> 5 & 63), Widen5(w >> 11 & 31));
      }
      break;
    case pd24Bit:
      for (int x = 0; x < count; ++x, row += 3) out[x] = MakeBGRA(row[0], row[1], row[2]);
      break;
    case pd32Bit:
    case pdDevice:
      std::memcpy(out, row, static_cast<std::size_t>(count) * 4);
      break;
    default:
      std::fill(out, out + count, TBGRA{0});
      break;
  }
}

TColorMatcher::TColorMatcher(const std::vector<TRGBQuad>& palette, int entries)
    : palette_(palette.begin(), palette.begin() + std::clamp<std::ptrdiff_t>(entries, 0, palette.size())) {}

std::uint8_t TColorMatcher::IndexOf(TBGRA color) {
  color &= 0x00FFFFFF;
  if (auto found = known_.find(color); found != known_.end()) return found->second;
  const int blue = color & 0xFF, green = color >> 8 & 0xFF, red = color >> 16 & 0xFF;
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < palette_.size(); ++i) {
    const int db = palette_[i].Blue - blue, dg = palette_[i].Green - green, dr = palette_[i].Red - red;
    const int distance = db * db + dg * dg + dr * dr;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<int>(i);
      if (distance == 0) break;
    }
  }
  // Pictures have few distinct colours as a rule; a picture with very many colours is not
  // worth an unbounded cache.
  if (known_.size() < 65536) known_.emplace(color, static_cast<std::uint8_t>(best));
  return static_cast<std::uint8_t>(best);
}

void PackRow(const TBGRA* in, int count, TPixelDepth depth, TColorMatcher* matcher, std::uint8_t* row) {
  switch (depth) {
    case pd1Bit:
      std::memset(row, 0, (static_cast<std::size_t>(count) + 7) / 8);
      for (int x = 0; x < count; ++x)
        if (matcher->IndexOf(in[x]) & 1) row[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
      break;
    case pd4Bit:
      std::memset(row, 0, (static_cast<std::size_t>(count) + 1) / 2);
      for (int x = 0; x < count; ++x) {
        const std::uint8_t index = matcher->IndexOf(in[x]) & 0x0F;
        row[x >> 1] |= (x & 1) ? index : static_cast<std::uint8_t>(index << 4);
      }
      break;
    case pd8Bit:
      for (int x = 0; x < count; ++x) row[x] = matcher->IndexOf(in[x]);
      break;
    case pd15Bit:
      for (int x = 0; x < count; ++x, row += 2) {
        const TBGRA p = in[x];
        const unsigned w = (p & 0xFF) >> 3 | ((p >> 8 & 0xFF) >> 3) << 5 | ((p >> 16 & 0xFF) >> 3) << 10;
        row[0] = static_cast<std::uint8_t>(w);
        row[1] = static_cast<std::uint8_t>(w >> 8);
      }
      break;
    case pd16Bit:
      for (int x = 0; x < count; ++x, row += 2) {
        const TBGRA p = in[x];
        const unsigned w = (p & 0xFF) >> 3 | ((p >> 8 & 0xFF) >> 2) << 5 | ((p >> 16 & 0xFF) >> 3) << 11;
        row[0] = static_cast<std::uint8_t>(w);
        row[1] = static_cast<std::uint8_t>(w >> 8);
      }
      break;
    case pd24Bit:
      for (int x = 0; x < count; ++x, row += 3) {
        const TBGRA p = in[x];
        row[0] = static_cast<std::uint8_t>(p);
        row[1] = static_cast<std::uint8_t>(p >> 8);
        row[2] = static_cast<std::uint8_t>(p >> 16);
      }
      break;
    case pd32Bit:
    case pdDevice:
      std::memcpy(row, in, static_cast<std::size_t>(count) * 4);
      break;
    default:
      break;
  }
}

std::vector<TRGBQuad> DefaultPalette(TPixelDepth depth) {
  auto entry = [](int red, int green, int blue) {
    return TRGBQuad{static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green), static_cast<std::uint8_t>(red), 0};
  };
  std::vector<TRGBQuad> palette;
  switch (depth) {
    case pd1Bit:
      palette = {entry(0, 0, 0), entry(255, 255, 255)};
      break;
    case pd4Bit:
      palette = {entry(0, 0, 0),       entry(128, 0, 0),   entry(0, 128, 0),   entry(128, 128, 0),
                 entry(0, 0, 128),     entry(128, 0, 128), entry(0, 128, 128), entry(192, 192, 192),
                 entry(128, 128, 128), entry(255, 0, 0),   entry(0, 255, 0),   entry(255, 255, 0),
                 entry(0, 0, 255),     entry(255, 0, 255), entry(0, 255, 255), entry(255, 255, 255)};
      break;
    case pd8Bit:
      for (int red = 0; red < 6; ++red)
        for (int green = 0; green < 6; ++green)
          for (int blue = 0; blue < 6; ++blue) palette.push_back(entry(red * 51, green * 51, blue * 51));
      // Eight greys inside each of the five gaps between the cube's own greys.
      for (int i = 0; i < 40; ++i) {
        const int level = (i / 8) * 51 + (i % 8 + 1) * 51 / 9;
        palette.push_back(entry(level, level, level));
      }
      break;
    default:
      break;
  }
  return palette;
}

}  // namespace driftpost
