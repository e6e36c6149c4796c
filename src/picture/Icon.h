// TIcon: a Windows icon file (ico). Of the images an icon file holds, the first one stored
// as a device-independent bitmap is loaded; drawing it follows the icon's own transparency:
// an alpha channel where a 32-bit image has one, otherwise the AND mask (mask bit set: the
// background stays, combined with the image's colour by exclusive or, as the display does).
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"

namespace driftpost {

class TIcon : public TGraphic {
 public:
  TIcon();
  ~TIcon() override;

  static TGraphicClass StaticClass();
  TGraphicClass ClassType() const override { return StaticClass(); }

  // Raises EInvalidGraphic with the invalid-format message (TIcon) for anything but an icon
  // file with at least one image stored as a device-independent bitmap. Images stored as PNG
  // are passed over.
  void LoadStream(TStream& stream) override;
  // Writes the icon file as it was loaded.
  void SaveStream(TStream& stream) override;
  // Copies another icon; none clears this one; other pictures raise EConvertError.
  void CopyFrom(const TGraphic* source) override;

  int Width() const override { return image_.Width(); }
  int Height() const override { return image_.Height(); }
  bool Empty() const override { return image_.Empty(); }
  void Draw(TBitmap& target, const TRect& rect) override;

  // The loaded image in its stored pixel format, without transparency applied.
  const TBitmap& Image() const { return image_; }

 private:
  TBitmap image_;
  std::vector<std::uint8_t> mask_;  // one byte per pixel, top row first: 1 where the AND mask is set
  bool hasAlpha_ = false;
  std::vector<std::uint8_t> file_;  // the icon file's bytes
};

}  // namespace driftpost
