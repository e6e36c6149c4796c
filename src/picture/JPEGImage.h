// TJPEGImage: JPEG data as a picture. Loading keeps the file's bytes and reads only its
// header; the pixels are decoded when the picture is drawn. A bitmap copied in is encoded
// when the picture is saved. The compressed form (TJPEGData) is shared between pictures
// copied from one another, so a loaded JPEG file copied into another TJPEGImage is written
// back byte for byte, without decoding or encoding.
#pragma once

#include <cstdint>
#include <memory>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"

namespace driftpost {

class TMemoryStream;

// A fatal error reported by libjpeg: "JPEG-Fehler #%d" with the library's message code.
class EJPEG : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// The compressed form, shared (reference-counted) by the pictures that hold it.
struct TJPEGData {
  std::unique_ptr<TMemoryStream> Data;  // a complete JPEG file, or none
  int Width = 0;
  int Height = 0;
  bool Grayscale = false;  // the JPEG has one grey component

  TJPEGData();
  ~TJPEGData();
};

enum TJPEGPerformance : std::uint8_t { jpBestQuality, jpBestSpeed };
enum TJPEGPixelFormat : std::uint8_t { jf24Bit, jf8Bit };
// Decoded size: full, 1/2, 1/4 or 1/8 of the picture.
enum TJPEGScale : std::uint8_t { jsFullSize, jsHalf, jsQuarter, jsEighth };

// The settings each new TJPEGImage starts with.
struct TJPEGDefaults {
  std::uint8_t CompressionQuality = 90;  // 1 to 100, for encoding
  bool Grayscale = false;                // encode and decode in grey
  TJPEGPerformance Performance = jpBestQuality;  // decoding
  // Decoding; 8-bit output would be chosen for a display of 8 or fewer bits per pixel, and
  // the display here has 32.
  TJPEGPixelFormat PixelFormat = jf24Bit;
  bool ProgressiveDisplay = false;  // decoding always delivers the finished picture here
  bool ProgressiveEncoding = false;
  TJPEGScale Scale = jsFullSize;  // decoding
  bool Smoothing = true;          // block smoothing when decoding
};

// Process-wide; nothing in the program changes them.
extern TJPEGDefaults JPEGDefaults;

class TJPEGImage : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;

  static TGraphicClass StaticClass();
  TGraphicClass ClassType() const override { return StaticClass(); }

  // Takes every byte from the stream's position to its end and reads the JPEG header from
  // them (none for an empty stream). Raises EJPEG for a header libjpeg refuses; the picture
  // is then unchanged.
  void LoadStream(TStream& stream) override;
  // Encodes the bitmap when no compressed bytes exist yet, then writes the compressed bytes.
  // A picture without bitmap, or with a bitmap of no width or height, writes nothing.
  void SaveStream(TStream& stream) override;
  // A TJPEGImage shares the source's compressed form; a TBitmap (every reader's picture) is
  // copied for encoding; anything else raises EConvertError
  // "%s kann nicht zu  %s zugewiesen werden".
  void CopyFrom(const TGraphic* source) override;
  // As CopyFrom of a bitmap, but takes its pixels instead of copying them; `source` is left
  // empty. For a picture that is made only to be encoded.
  void TakeBitmap(TBitmap& source);

  int Width() const override;
  int Height() const override;
  // Raise EInvalidGraphicOperation "Die Größe einer JPEG-Grafik kann nicht verändert werden".
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  bool Empty() const override;
  // Decodes the compressed bytes when there is no bitmap yet, then stretches the bitmap into
  // the rectangle. Raises EJPEG for data libjpeg cannot decode and EInvalidGraphic for a
  // picture beyond the picture limits.
  void Draw(TBitmap& target, const TRect& rect) override;

  // Encodes the bitmap into the compressed form unless that holds bytes already.
  void Compress();
  // Decodes the compressed form into the bitmap unless there is one already.
  void DIBNeeded();
  // Decodes the compressed form at eighths / 8 of its size (1 to 8, others are clamped;
  // libjpeg's scaled decoding, which gives ScaledJpegSide pixels per side) with this
  // picture's decoding settings, straight into `target`, which takes the pixels; the picture
  // itself keeps no bitmap. Without compressed bytes `target` is left as it is. Raises like
  // Draw.
  void DecodeScaled(TBitmap& target, unsigned eighths);

  // The decoded picture, or the picture waiting to be encoded; none before either.
  const TBitmap* Bitmap() const { return bitmap_.get(); }
  // The compressed bytes, none before loading or encoding.
  const TMemoryStream* CompressedData() const;
  bool Grayscale() const { return data_->Grayscale; }

  std::uint8_t CompressionQuality = 90;
  bool GrayscaleSetting = false;
  TJPEGPerformance Performance = jpBestQuality;
  TJPEGPixelFormat PixelFormat = jf24Bit;
  bool ProgressiveDisplay = false;
  bool ProgressiveEncoding = false;  // also set by loading: the file has more than one scan
  TJPEGScale Scale = jsFullSize;
  bool Smoothing = true;

 private:
  friend class TJpegJob;
  void LibraryProgress(int percent);
  void Decode(TBitmap& target, unsigned scaleNumerator, unsigned scaleDenominator);

  std::shared_ptr<TJPEGData> data_;
  std::unique_ptr<TBitmap> bitmap_;
};

// A side of `side` pixels decoded at eighths / 8: libjpeg rounds the scaled side up.
int ScaledJpegSide(int side, unsigned eighths);

// The scale, in eighths, at which to decode a width × height JPEG that is then resampled to
// fittedWidth × fittedHeight: when the longer side shrinks by a factor of 2 or more, the
// smallest scale whose picture is still at least the fitted size in both directions, so the
// resampling has every pixel it needs and the decoder computes a fraction of them; otherwise
// 8, full size.
unsigned JpegDecodeEighths(int width, int height, int fittedWidth, int fittedHeight);

// Start-up and shut-down of the JPEG class's own registrations with TPicture (jpeg, jpg).
void RegisterJPEGFormats();
void UnregisterJPEGFormats();

}  // namespace driftpost
