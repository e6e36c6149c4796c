// TCUTGraphic: Dr. Halo pictures (cut). Rows of 8-bit indices, each run-length packed with
// its length in front. The palette lives in a second file beside the picture, with the
// extension ".pal" (or "pal" in any letter case); without one the picture shows as a ramp
// of 256 greys.
#pragma once

#include <string>

#include "picture/ColorManager.h"
#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TCUTGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TCUTGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "CUT"; }

  // Loads the picture with the palette file beside it. A load from a stream alone finds no
  // palette file.
  void LoadFile(const std::string& path) override;
  // A Dr. Halo picture has no signature to recognise it by.
  static bool CanReadStream(TStream& stream);
  // Makes the bitmap 8-bit and fills the image properties from the width and height at the
  // start of the picture; false for a picture without pixels.
  bool ReadProperties(TStream& stream, int imageIndex) override;

  // The palette file of the load under way; empty when there is none.
  const std::string& PaletteFile() const { return paletteFile_; }

 protected:
  // Raises the invalid-format message for a picture without pixels, "Cannot load image.
  // Palette in CUT file is invalid." for a palette file cut short. Rows missing at the end
  // of the data stay as they were.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;

 private:
  std::string paletteFile_;
};

// The colours of a Dr. Halo palette file: 512-byte blocks, the colour count less one in
// the word at offset 12, entries of three little-endian words (red, green, blue, of which
// the low byte counts) from offset 40, never starting beyond offset 506 of a block. At most
// 256 entries are read; a file that ends before them raises EInvalidGraphic.
TPalette ReadCUTPalette(TStream& stream);

}  // namespace driftpost
