// Windows bitmap files from anywhere: any bytes load or fail with our exception; a loaded
// bitmap is drawn, converted, resampled and saved without touching memory outside it.
#include <cstdint>

#include "PictureFuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/Resample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace driftpost;
  fuzzing::UseSmallPictureLimits();
  TMemoryStream stream;
  fuzzing::FillStream(stream, data, size);
  TBitmap bitmap;
  try {
    bitmap.LoadStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  const TPixelDepth targets[] = {pd1Bit, pd4Bit, pd8Bit, pd15Bit, pd16Bit, pd24Bit, pd32Bit};
  TBitmap canvas;
  canvas.SetPixelFormat(targets[size % 7]);
  canvas.SetSize(37, 23);
  canvas.StretchDrawGraphic(TRect{-3, 2, 40, 19}, bitmap);
  canvas.DrawGraphic(5, 5, bitmap);

  TMemoryStream saved;
  bitmap.SaveStream(saved);
  saved.SetPosition(0);
  TBitmap reloaded;
  reloaded.LoadStream(saved);

  // Small targets with every filter, and radii beyond and below the filters' own support.
  const float radii[] = {0, 0.25f, 7.5f};
  Resample(static_cast<std::uint32_t>(size % 13), static_cast<std::uint32_t>(size % 11 + 1),
           static_cast<TResampleFilter>(size % 7), radii[size % 3], bitmap);
  return 0;
}
