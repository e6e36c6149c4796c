// Shared by the fuzz targets of the picture readers: any bytes load or fail with one of our
// exceptions, and a loaded picture is drawn so that every pixel and palette entry it claims
// is read. A fault shows as a sanitizer report or as an exception of another kind.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PictureFuzzSupport.h"
#include "picture/Bitmap.h"

namespace driftpost::fuzzing {

template <class Reader>
int FuzzReader(const std::uint8_t* data, std::size_t size) {
  UseSmallPictureLimits();
  TMemoryStream stream;
  FillStream(stream, data, size);
  Reader::CanReadStream(stream);
  Reader reader;
  try {
    reader.LoadStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(17, 11);
  canvas.StretchDrawGraphic(TRect{0, 0, 17, 11}, reader);
  return 0;
}

}  // namespace driftpost::fuzzing
