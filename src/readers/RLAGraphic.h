// TRLAGraphic: Alias/Wavefront pictures (rla, rpf). Three 8-bit colour channels and an
// optional matte channel, each row's channels run-length packed one after another, found
// through a table of row offsets. Rows are usually stored bottom first. A gamma stated in
// the file is applied to the colours.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TRLAGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TRLAGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "RLA"; }

  // Revision 0xFFFE and a header this reader can load; the stream stays put.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the 740-byte header; false unless the colour channel
  // kind is "rgb" or "xyz" and the picture has three colour channels of 8 bits (a single
  // matte channel is read as alpha) and at least one pixel.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for an unloadable header or a row offset outside
  // the stream, EReadError for row data cut short, and the colour manager's error for
  // "xyz" colours, which it cannot convert.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
