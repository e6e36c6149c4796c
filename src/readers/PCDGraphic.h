// TPCDGraphic: Kodak Photo-CD image pacs (pcd) at their base resolution, 768 by 512 pixels
// (512 by 768 for a picture stored turned a quarter): the luma plane and the two chroma
// planes of half the size, which are enlarged to full size, converted from PhotoYCC and
// turned upright. An overview file shows its first thumbnail, 192 by 128 pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/GraphicExGraphic.h"

namespace driftpost {

class TPCDGraphic : public TGraphicExGraphic {
 public:
  DRIFTPOST_READER_CLASS(TPCDGraphic, TGraphicExGraphic)

  std::string ImageFormatName() const override { return "PCD"; }

  // True when more than three sectors remain and they begin like an overview file
  // ("PCD_OPA") or an image pac ("PCD" at the second sector); the stream stays put.
  static bool CanReadStream(TStream& stream);
  // Fills the image properties for resolution `imageIndex` (0 is 192 by 128, each step
  // doubles both sides, at most 5; overview files have resolution 0 only) from the three
  // header sectors; false when they are neither an overview file nor an image pac.
  bool ReadProperties(TStream& stream, int imageIndex) override;

 protected:
  // Raises the invalid-format message for a header of neither kind and for a file too short
  // to hold the picture's sectors.
  void LoadImage(TStream& stream, TLoadProgress& progress) override;
};

// Enlarges the `width` by `height` plane at the top left of `plane` (rows `stride` bytes
// apart) in place to 2 × width by 2 × height: new pixels between two are their rounded-up
// mean, between four the mean of the four rounded to nearest, the last column and row repeat
// the one before. The plane must hold 2 × height rows of at least 2 × width bytes, and
// height must be at least 2.
void EnlargePlane(std::uint8_t* plane, std::size_t width, std::size_t height, std::size_t stride);

}  // namespace driftpost
