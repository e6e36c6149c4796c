// Helpers shared by the picture tests: fixture paths, and a picture drawn onto a white
// 24-bit bitmap as red, green, blue bytes from the top row down (the layout of the
// ImageMagick decodes kept beside the fixtures).
#pragma once

#include <string>

#include "TempDir.h"
#include "picture/Bitmap.h"

namespace driftpost::testing {

inline std::string DataFile(const std::string& name) { return std::string(DRIFTPOST_TEST_DATA) + "/" + name; }

inline std::string ReadData(const std::string& name) { return ReadFile(DataFile(name)); }

// The bitmap's pixels as red, green, blue bytes, top row first.
inline std::string RgbBytes(const TBitmap& bitmap) {
  std::string out;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TColor color = bitmap.Pixel(x, y);
      out += static_cast<char>(RedOf(color));
      out += static_cast<char>(GreenOf(color));
      out += static_cast<char>(BlueOf(color));
    }
  return out;
}

// The picture drawn at its own size onto a fresh (white) 24-bit bitmap.
inline std::string RenderedRgb(TGraphic& graphic) {
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(graphic.Width(), graphic.Height());
  canvas.DrawGraphic(0, 0, graphic);
  return RgbBytes(canvas);
}

// Makes `bitmap` a 24-bit bitmap whose pixel (x, y) has the colour `color(x, y)`.
template <class F>
void PaintBitmap(TBitmap& bitmap, int width, int height, F color) {
  bitmap.SetPixelFormat(pd24Bit);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const TColor c = color(x, y);
      row[3 * x] = BlueOf(c);
      row[3 * x + 1] = GreenOf(c);
      row[3 * x + 2] = RedOf(c);
    }
  }
}

// Where two byte strings first differ, for readable failures.
inline std::string FirstDifference(const std::string& actual, const std::string& expected) {
  if (actual.size() != expected.size())
    return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i)
    if (actual[i] != expected[i])
      return "byte " + std::to_string(i) + " (pixel " + std::to_string(i / 3) + "): " +
             std::to_string(static_cast<unsigned char>(actual[i])) + " instead of " +
             std::to_string(static_cast<unsigned char>(expected[i]));
  return "none";
}

}  // namespace driftpost::testing
