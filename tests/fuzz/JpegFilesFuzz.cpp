// JPEG files from anywhere: loading reads the header, drawing decodes the whole picture, and
// the decoded picture is encoded again; the picture is also decoded at a scale in eighths
// and resampled, as a picture request that fits it to the screen does. libjpeg's fatal
// errors must come back as EJPEG, never unwind through the library or leave it holding
// memory.
#include <cstdint>

#include "PictureFuzzSupport.h"
#include "picture/Bitmap.h"
#include "picture/JPEGImage.h"
#include "picture/Resample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace driftpost;
  fuzzing::UseSmallPictureLimits();
  TMemoryStream stream;
  fuzzing::FillStream(stream, data, size);
  TJPEGImage jpeg;
  // The last byte picks the decoding settings, so the quantising and fast roads run too.
  const std::uint8_t choice = size ? data[size - 1] : 0;
  jpeg.GrayscaleSetting = choice & 1;
  jpeg.PixelFormat = (choice & 2) ? jf8Bit : jf24Bit;
  jpeg.Performance = (choice & 4) ? jpBestSpeed : jpBestQuality;
  jpeg.Scale = static_cast<TJPEGScale>(choice >> 3 & 3);
  const unsigned eighths = (choice >> 5) + 1u;
  try {
    jpeg.LoadStream(stream);
    TBitmap scaled;
    jpeg.DecodeScaled(scaled, eighths);
    // Resampling does the same for every size; small pictures keep the runs quick.
    if (scaled.Width() * scaled.Height() <= 65536)
      Resample(static_cast<std::uint32_t>(scaled.Width() + 1) / 2, static_cast<std::uint32_t>(scaled.Height() + 1) / 2,
               rfTriangle, 0, scaled);
    TBitmap canvas;
    canvas.SetSize(16, 12);
    canvas.StretchDrawGraphic(TRect{0, 0, 16, 12}, jpeg);
    if (jpeg.Bitmap() && jpeg.Bitmap()->Width() * jpeg.Bitmap()->Height() <= 65536) {
      TBitmap decoded;
      decoded.CopyFrom(jpeg.Bitmap());
      TJPEGImage encoded;
      encoded.CopyFrom(&decoded);
      TMemoryStream out;
      encoded.SaveStream(out);
    }
  } catch (const Exception&) {
  }
  return 0;
}
