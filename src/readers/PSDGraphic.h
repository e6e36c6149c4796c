// TPSDGraphic: Photoshop pictures (psd, pdd). Reads the merged image that follows the layers:
// bitmap (1 bit, 0 white), grey and duotone (shown as grey), indexed, RGB with or without
// extra channels (the first extra one is alpha), CMYK (stored inverted), multichannel and
// Lab, with 8 or 16 bits per channel, stored plainly or PackBits-packed row by row.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TPSDGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TPSDGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "PSD or PDD"; }

  // True for a version 1 header ("8BPS") of a colour mode, depth and channel count this
  // reader can show; the stream stays where it was.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the header and reads up to the merged image's
  // compression code; false for a header CanReadStream refuses or sections that run past
  // the end of the file.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for an unloadable header, a missing palette or
  // packed-row counts that reach past the file, the unsupported-compression message for
  // anything but plain and PackBits data, EReadError for plain data cut short. Checks that
  // the file can hold the picture it claims before allocating it.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
