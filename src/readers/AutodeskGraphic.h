// TAutodeskGraphic: Autodesk Animator cel and pic pictures. A 32-byte header, a palette of
// 256 six-bit red, green, blue entries and rows of 8-bit indices from the top down.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TAutodeskGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TAutodeskGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "Autodesk"; }

  // Magic 0x9119 and 8 bits per pixel; the stream stays put.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the header; false unless the magic matches and the
  // picture has 8 bits per pixel and at least one pixel.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for an unloadable header, EReadError when the
  // palette or the rows are cut short.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
