// TPNGGraphic: Portable Network Graphics pictures (png). Grey, RGB, palette, grey with alpha
// and RGBA images of every bit depth the format allows, plain or Adam7-interlaced, with their
// gamma (gAMA), background (bKGD) and transparent colour (tRNS). Every chunk's CRC is
// checked; the image data is inflated one row at a time straight into the bitmap's rows, so
// the data never makes more than the picture's own rows however much of it the file holds.
//
// Bitmaps: grey images get a grey palette of their depth (4 bits for 2-bit files, 8 for
// 16-bit ones), palette images the file's palette, grey with alpha an 8-bit grey palette
// (the alpha is dropped), RGB 24 bits and RGBA 32 bits with the alpha in the fourth byte.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TPNGGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TPNGGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "PNG"; }

  // True when the next 8 bytes are the PNG signature; the stream stays where it was.
  static bool CanReadStream(TStream& stream);
  // Reads the signature and the IHDR chunk (CRC checked) into the image properties, then
  // looks ahead for a gAMA chunk up to IEND for FileGamma. False for another signature, a
  // first chunk that is not a 13-byte IHDR, or a width or height of 0.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises EInvalidGraphic with the PNG messages (CRC, compression, palette, colour format,
  // unknown critical chunk, a picture over the limits or without image data); a file that
  // ends early lets EReadError escape. Image data that runs out before the last row leaves
  // the remaining pixels in the background colour.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
