// TTargaGraphic: Truevision Targa pictures (tga, vst, vda, icb, win). Colour-mapped, true
// colour and grey images, stored plainly or run-length packed (packets may run on from one
// row into the next), rows top-first or bottom-first, pixels left to right or right to left.
// Pixels go into the bitmap as stored: Targa's blue-green-red bytes, 5-5-5 words and
// blue-green-red-alpha quadruples are the bitmap's own layouts. Grey pictures of 16 bits
// (grey and alpha) show their grey levels.
#pragma once

#include <cstdint>
#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TTargaGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TTargaGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "Targa"; }

  // True when the next 18 bytes are a Targa header this reader can load; the stream stays
  // where it was.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the header; false when the header is not one this
  // reader can load.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises EInvalidGraphic for an unloadable header, EReadError when the colour map or the
  // rows of an uncompressed picture are cut short. Packed rows that end early leave the
  // rest of the picture as it was.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
