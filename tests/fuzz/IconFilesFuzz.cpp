// Icon files from anywhere: any bytes load or fail with our exception; a loaded icon is
// drawn, through its mask or alpha, onto bitmaps of every format.
#include <cstdint>

#include "PictureFuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/Icon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace driftpost;
  fuzzing::UseSmallPictureLimits();
  TMemoryStream stream;
  fuzzing::FillStream(stream, data, size);
  TIcon icon;
  try {
    icon.LoadStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  for (TPixelDepth depth : {pd1Bit, pd8Bit, pd24Bit}) {
    TBitmap canvas;
    canvas.SetPixelFormat(depth);
    canvas.SetSize(19, 17);
    canvas.DrawGraphic(-2, 3, icon);
    canvas.StretchDrawGraphic(TRect{0, 0, 19, 17}, icon);
  }
  return 0;
}
