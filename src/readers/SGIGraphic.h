// TSGIGraphic: SGI pictures (sgi, rgb, rgba, bw). One to four channels of 8 or 16-bit
// samples, stored channel after channel, bottom row first, plain or run-length packed with
// a table of row offsets. Grey files (one channel, or grey and alpha) show their grey
// channel; colour files convert their red, green, blue (and alpha) channels.
#pragma once

#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TSGIGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TSGIGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "sgi, bw or rgb(a)"; }

  // Magic 474 and a header this reader can load; the stream stays put.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties from the 512-byte header; false unless the magic is 474,
  // samples have 1 or 2 bytes, and the picture has 1 to 4 channels and at least one pixel.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for an unloadable header and for a packed row whose
  // offset lies outside the stream; EReadError for data cut short.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

}  // namespace driftpost
