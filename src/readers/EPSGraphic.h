// TEPSGraphic: the TIFF preview that an Encapsulated PostScript file with a binary header
// carries (the PostScript itself is not drawn). The 30-byte little-endian header names where
// the PostScript, a metafile preview and a TIFF preview lie; the TIFF preview is loaded as a
// TIFF file that begins at its offset, and fails with the TIFF reader's messages.
#pragma once

#include <string>

#include "readers/TIFFGraphic.h"

namespace driftpost {

class TEPSGraphic : public TTIFFGraphic {
 public:
  DRIFTPOST_READER_CLASS(TEPSGraphic, TTIFFGraphic)

  // True when the stream begins with the binary header and its TIFF preview lies after
  // the header; the stream stays where it was.
  static bool CanReadStream(TStream& stream);

  // Raises EInvalidGraphic "Cannot load image. Invalid or unexpected EPS image format." for
  // a file without the binary header or whose TIFF preview does not begin inside the file.
  void LoadStream(TStream& stream) override;
};

}  // namespace driftpost
