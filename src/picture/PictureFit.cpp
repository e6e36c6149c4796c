#include "picture/PictureFit.h"

#include <cmath>

#include "picture/Bitmap.h"
#include "picture/JPEGImage.h"
#include "picture/Picture.h"
#include "picture/Resample.h"

namespace driftpost {

namespace {

// The picture's pixels as a bitmap to resample to `size`; the picture then holds that bitmap.
TBitmap& PixelsToResample(TPicture& picture, TPictureSize size) {
  TGraphic& graphic = *picture.Graphic();
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(&graphic)) {
    TBitmap decoded;
    jpeg->DecodeScaled(decoded, JpegDecodeEighths(jpeg->Width(), jpeg->Height(), static_cast<int>(size.Width),
                                                  static_cast<int>(size.Height)));
    TBitmap& bitmap = picture.Bitmap();  // frees the JPEG picture
    bitmap.TakeImage(decoded);
    return bitmap;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(&graphic); bitmap && !bitmap->Transparent()) return *bitmap;
  return DrawOnWhite(picture);
}

}  // namespace

TBitmap& DrawOnWhite(TPicture& picture) {
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(picture.Width(), picture.Height());
  if (picture.Graphic()) canvas.DrawGraphic(0, 0, *picture.Graphic());
  // A picture that is not a bitmap is replaced by an empty one here, so the drawing above
  // had to come first.
  TBitmap& bitmap = picture.Bitmap();
  bitmap.TakeImage(canvas);
  return bitmap;
}

TPictureSize FitIntoSquare(std::int64_t width, std::int64_t height, std::int64_t side) {
  const auto scaled = [side](std::int64_t length, std::int64_t longer) {
    return static_cast<std::uint32_t>(
        std::nearbyint(static_cast<long double>(length * side) / static_cast<long double>(longer)));
  };
  if (width > height) return {static_cast<std::uint32_t>(side), scaled(height, width)};
  return {scaled(width, height), static_cast<std::uint32_t>(side)};
}

void ResamplePicture(TPicture& picture, TPictureSize size) {
  if (!picture.Graphic()) return;
  Resample(size.Width, size.Height, rfTriangle, 0, PixelsToResample(picture, size));
}

}  // namespace driftpost
