// Metafiles from anywhere: any bytes give a size or fail with our exception, and a loaded
// metafile plays its records onto bitmaps, at its own size (cut to the bitmap) and stretched.
#include <algorithm>
#include <cstdint>

#include "PictureFuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/Metafile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace driftpost;
  fuzzing::UseSmallPictureLimits();
  TMemoryStream stream;
  fuzzing::FillStream(stream, data, size);
  TMetafile metafile;
  try {
    metafile.LoadStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(std::min(metafile.Width(), 48), std::min(metafile.Height(), 48));
  canvas.DrawGraphic(0, 0, metafile);
  TBitmap small;
  small.SetPixelFormat(pd1Bit);
  small.SetSize(13, 11);
  small.StretchDrawGraphic(TRect{-2, 1, 15, 9}, metafile);
  return 0;
}
