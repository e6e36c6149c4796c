// Metafiles from anywhere: any bytes give a size or fail with our exception.
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
  canvas.SetSize(4, 4);
  canvas.DrawGraphic(0, 0, metafile);
  return 0;
}
