// TTIFFGraphic: the first image of a TIFF file (tif, tiff, and fax files, which are TIFF
// files too). Either byte order; bilevel, grey, palette, RGB(A), CMYK, YCbCr and CIE L*a*b*
// pixels of 1 to 16 bits; contiguous samples or separate planes; strips stored plainly or
// packed with PackBits, deflate (with or without the horizontal predictor), CCITT modified
// Huffman and one-dimensional Group 3 fax, JPEG and ThunderScan, in strips or in tiles.
// Other compressions (LZW, Group 4, two-dimensional Group 3, old-style JPEG ...) are refused
// with "Cannot load image. The compression scheme is not supported for TIF/TIFF files.".
//
// Damaged strips and tiles leave their pixels as they were: one whose offset lies past the
// end of the file is skipped, one cut short decodes what is there.
#pragma once

#include <cstdint>
#include <string>

#include "picture/GraphicExGraphic.h"
#include "readers/TIFFDirectory.h"

namespace driftpost {

class TTIFFGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TTIFFGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "TIF/TIFF"; }

  // True when the stream holds a TIFF header ("II" or "MM", 42) whose first directory
  // offset lies inside the stream; the stream stays where it was.
  static bool CanReadStream(TStream& stream);
  // Reads the header at the stream's position (the file's start), walks the directory
  // chain to directory `imageIndex` and fills the image properties from its tags. False
  // for a header or directory that is not there, a directory chain that ends or loops
  // before the index, and a picture without width or height.
  bool ReadProperties(TStream& stream, int imageIndex) override;

  // Writes nothing: pictures are only read.
  void SaveStream(TStream& stream) override;

 protected:
  void LoadImage(TStream& stream, TLoadProgress& progress) override;

 private:
  TTIFFDirectory directory_;  // the directory ReadProperties read, for the load that follows
};

}  // namespace driftpost
