// TPCXGraphic: ZSoft Paintbrush pictures (pcx, pcc) and Word screen captures (scr). One to
// four colour planes per row, plain or run-length packed: 1, 2, 4 and 8-bit indices, 1-bit
// planes merged into 4-bit indices, and 8-bit red, green, blue (and alpha) planes. A
// 256-colour picture carries its palette at the end of the file.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TPCXGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TPCXGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "PCX"; }

  // Manufacturer 10 or 12, version 0, 2, 3 or 5, encoding 0 or 1; the stream stays put.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the 128-byte header; false unless the manufacturer is
  // 10 or 205 and the header describes a picture whose rows fit their stored length.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for an unloadable header, "Invalid color format in
  // PCX file." for plane and bit combinations it cannot show, EReadError for plain pixel
  // data cut short. Packed data that ends early leaves the rest of the picture black.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
