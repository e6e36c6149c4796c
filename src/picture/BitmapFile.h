// Windows bitmap files and the device-independent bitmaps inside icon files: reading the
// headers, colour tables and pixel data (uncompressed, bit fields, RLE8, RLE4) into a TBitmap,
// and writing a TBitmap as a bitmap file. Every size is checked against the picture limits
// before anything is allocated.
#pragma once

#include <cstdint>
#include <string>

namespace driftpost {

class TBitmap;
class TStream;

struct TDibInfo {
  int BitCount = 0;          // bits per pixel as stored
  bool HasAlphaMask = false;  // the fourth byte of 32-bit pixels is meant as alpha
};

// Reads a bitmap file from the stream's position into `bitmap` (which must be empty, fresh
// or released). `formatName` names the format in the invalid-format message.
void ReadBitmapFile(TStream& stream, TBitmap& bitmap, const std::string& formatName);

// Reads one image of an icon file: an info header whose height counts the colour rows and
// the mask rows, the colour table and the colour rows. The bitmap gets half the stated height;
// the stream is left at the first byte of the mask rows.
TDibInfo ReadIconImage(TStream& stream, TBitmap& bitmap, const std::string& formatName);

void WriteBitmapFile(TStream& stream, const TBitmap& bitmap);

}  // namespace driftpost
