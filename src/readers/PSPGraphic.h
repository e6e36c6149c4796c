// TPSPGraphic: Paint Shop Pro pictures (psp), format versions 3 and later. Shows the first
// raster layer that holds pixels, placed where it lies on the canvas (the rest is white):
// 1, 4 and 8-bit indices, 8-bit grey and 24-bit colour (with its transparency mask as
// alpha), channels stored plainly, run-length packed or deflated.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TPSPGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TPSPGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "PSP"; }

  // True for the signature (any case) and a major version of 3 or later; the stream stays
  // where it was.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the general image attributes (the first block); false
  // unless the signature, the version and that block are sound.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for blocks that run past their parent or backwards,
  // layer rectangles larger than the picture, channels whose size does not match their
  // rectangle and files without a raster layer; "Invalid color format in PSP file." for bit
  // depths other than 1, 4, 8 and 24; the unsupported-compression message for JPEG; the
  // compression-error message for damaged deflate data.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
