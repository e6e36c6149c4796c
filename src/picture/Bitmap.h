// TBitmap: a device-independent bitmap, the picture every reader decodes into and every
// picture is drawn onto before it is scaled and encoded.
//
// Pixels are stored as Windows stores a bitmap: rows bottom-up in one block, each row padded
// to a multiple of 4 bytes, so ScanLine(y + 1) lies *below* ScanLine(y) in memory and the row
// stride is negative. Formats: 1, 4 and 8 bits with a palette (indices packed most significant
// bits first), 15 bits (5-5-5) and 16 bits (5-6-5) little-endian words with blue in the low
// bits, 24 bits as blue, green, red bytes, 32 bits as blue, green, red and a fourth byte, and
// the display's own format, which is 32 bits here. A fresh bitmap is white; changing the
// format converts every pixel keeping its colour (indexed formats: the nearest palette entry).
//
// Readers: set the pixel format, then the palette, then the size (CheckImageSize first, before
// allocating anything of their own), then fill the rows through ScanLine. The bitmap also reads
// and writes Windows bitmap files (bmp, dib, rle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/ColorManager.h"
#include "picture/Graphic.h"
#include "picture/PixelDepth.h"
#include "picture/PictureLimits.h"
#include "picture/PixelRows.h"

namespace driftpost {

class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;

  static TGraphicClass StaticClass();
  TGraphicClass ClassType() const override { return StaticClass(); }

  // Reads a Windows bitmap file (with or without its 14-byte file header): core and info
  // headers up to version 5, 1, 4, 8, 16, 24 and 32 bits, bit fields, RLE8 and RLE4, rows
  // stored bottom-up or top-down. Raises EInvalidGraphic with the invalid-format message for
  // anything else, EReadError when the pixel data is cut short.
  void LoadStream(TStream& stream) override;
  // Writes a Windows bitmap file with an info header.
  void SaveStream(TStream& stream) override;
  // Copies a bitmap (of any class derived from TBitmap) or the decoded pixels of a JPEG
  // picture; anything else raises EConvertError.
  void CopyFrom(const TGraphic* source) override;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int width) override { SetSize(width, height_); }
  void SetHeight(int height) override { SetSize(width_, height); }
  // Keeps the pixels both sizes share (the top-left part); new pixels are white. Raises
  // EInvalidGraphic with the invalid-format message beyond the picture limits.
  void SetSize(int width, int height);
  bool Empty() const override { return width_ == 0 || height_ == 0; }
  // Releases the pixels: the bitmap becomes 0 by 0, keeping its format and palette.
  void FreeImage();
  // New pixels of this size in the current format for a decoder that writes every row next:
  // unlike SetSize it neither paints them white nor keeps the old ones, so large pictures
  // are written once instead of twice. Until written, every byte is 0. Raises like SetSize.
  void AllocateImage(int width, int height);
  // Takes the source's pixels, format, palette and transparency without copying them; the
  // source is left without pixels.
  void TakeImage(TBitmap& source);

  TPixelDepth PixelFormat() const { return pixelFormat_; }
  // Converts every pixel to the new format keeping its colour. An indexed format keeps the
  // palette when it fits, else takes the default palette of that depth. pdCustom raises
  // EInvalidGraphicOperation.
  void SetPixelFormat(TPixelDepth depth);
  int BitsPerPixel() const { return BitsPerPixelOf(pixelFormat_); }
  // Bytes of one row including its padding.
  std::size_t BytesPerRow() const { return bytesPerRow_; }
  // The first byte of row y (0 is the top row). Raises EInvalidGraphicOperation for a row
  // outside the bitmap, so a reader's bad row number cannot reach past the pixels.
  std::uint8_t* ScanLine(int y);
  const std::uint8_t* ScanLine(int y) const;
  // Distance in bytes from row 0 to row 1; negative, as rows are stored bottom-up. Computed
  // without touching the pixels, so it is valid for a bitmap of one row.
  std::ptrdiff_t RowStride() const { return -static_cast<std::ptrdiff_t>(bytesPerRow_); }

  // Up to 256 entries; only the first 2^bits count for an indexed format. Setting a palette
  // keeps every pixel's index.
  const std::vector<TRGBQuad>& Palette() const { return palette_; }
  void SetPalette(std::vector<TRGBQuad> palette);
  // The colour manager's palettes, as the readers build them.
  void SetPalette(const TPalette& palette);

  // Drawing this bitmap skips its pixels of the transparent colour when Transparent is set.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }
  TColor TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(TColor color) { transparentColor_ = color & 0xFFFFFF; }

  // One pixel's colour; outside the bitmap, black and nothing is written.
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);
  // Paints every pixel in the colour (indexed formats: the nearest palette entry).
  void Fill(TColor color);

  // Draws this bitmap stretched into `rect` of `target` (nearest pixel), clipped to it.
  void Draw(TBitmap& target, const TRect& rect) override;
  // Draws a picture onto this bitmap at its own size with its top-left corner at (x, y).
  void DrawGraphic(int x, int y, TGraphic& graphic);
  // Draws a picture onto this bitmap stretched into `rect`.
  void StretchDrawGraphic(const TRect& rect, TGraphic& graphic);

  // The name that this picture's error messages give its format: the class name here, the
  // format's display name in the readers.
  virtual std::string ImageFormatName() const { return ClassName(); }
  // Raises EInvalidGraphic with "Cannot load image. Invalid or unexpected %s image format."
  // (ImageFormatName) when a bitmap of this size in the current pixel format would exceed
  // the picture limits or a size computation would overflow. Negative sizes are refused too.
  void CheckImageSize(std::int64_t width, std::int64_t height) const;
  [[noreturn]] void RaiseInvalidImage() const;

  // Expands row y into 32-bit values (see PixelRows.h); `out` holds Width() values.
  void UnpackScanLine(int y, TBGRA* out) const;

 private:
  // The memory row of image row y, unchecked.
  std::uint8_t* Row(int y) { return bits_.get() + static_cast<std::size_t>(height_ - 1 - y) * bytesPerRow_; }
  const std::uint8_t* Row(int y) const {
    return bits_.get() + static_cast<std::size_t>(height_ - 1 - y) * bytesPerRow_;
  }
  // What new storage holds before anything else is written into it.
  enum class TNewPixels : std::uint8_t { White, Zero };
  void Reallocate(TPixelDepth depth, int width, int height, TNewPixels pixels);
  void CopyImage(const TBitmap& source);
  // Takes the source's pixels and settings without copying; the source is left empty.
  void MoveImage(TBitmap& source);

  TPixelDepth pixelFormat_ = pdDevice;
  int width_ = 0;
  int height_ = 0;
  std::size_t bytesPerRow_ = 0;
  // From malloc or calloc: large zeroed blocks then come as fresh pages that nobody clears.
  struct TFreePixels {
    void operator()(std::uint8_t* bits) const;
  };
  using TPixels = std::unique_ptr<std::uint8_t[], TFreePixels>;

  TPixels bits_;  // bytesPerRow_ × height_ bytes
  std::vector<TRGBQuad> palette_;
  bool transparent_ = false;
  TColor transparentColor_ = clWhite;
};

}  // namespace driftpost
