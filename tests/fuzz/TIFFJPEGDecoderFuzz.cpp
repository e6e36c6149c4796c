// JPEG-compressed TIFF strips from anywhere, with the file's description around them: any
// bytes decode or fail with EGraphicCompression, and nothing is written past the strip's
// rows (the destination is allocated at exactly their size).
//
// Input: a header of 10 bytes, then the tables, then the strip.
//   0      flags: bit 0 YCbCr (else the samples as stored), bit 1 separate planes
//   1, 2   width (big-endian, at most 1023), 3 height, 4 rows per strip, 5 the current row
//   6      samples per pixel (1 to 4), 7 subsampling (high nibble horizontal, low vertical)
//   8, 9   length of the tables (big-endian)
#include <algorithm>
#include <cstdint>
#include <vector>

#include "readers/TIFFJPEGDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace driftpost;
  if (size < 10) return 0;
  TImageProperties properties;
  const bool planar = data[0] & 2;
  properties.ColorScheme = data[0] & 1 ? cmYCbCr : cmRGB;
  properties.PlanarConfig = planar ? 2 : 1;
  properties.Width = std::max(1u, static_cast<unsigned>((data[1] << 8 | data[2]) & 0x3FF));
  properties.Height = std::max<std::uint8_t>(1, data[3]);
  properties.RowsPerStrip = {std::clamp<std::uint32_t>(data[4], 1, properties.Height)};
  properties.CurrentRow = std::min<std::uint32_t>(data[5], properties.Height - 1);
  properties.SamplesPerPixel = static_cast<std::uint8_t>(data[6] % 4 + 1);
  properties.BitsPerSample = 8;
  properties.YCbCrSubsampling = {static_cast<std::uint8_t>(data[7] >> 4), static_cast<std::uint8_t>(data[7] & 15)};
  properties.BytesPerLine = properties.Width * properties.SamplesPerPixel;
  const std::size_t tables = std::min<std::size_t>(static_cast<std::size_t>(data[8] << 8 | data[9]), size - 10);
  properties.JPEGTables.assign(data + 10, data + 10 + tables);
  std::vector<std::uint8_t> strip(data + 10 + tables, data + size);

  const std::uint32_t rows = std::min(properties.RowsPerStrip[0], properties.Height - properties.CurrentRow);
  const std::size_t rowBytes = planar ? properties.Width : properties.BytesPerLine;
  std::vector<std::uint8_t> output(rows * rowBytes);
  std::uint8_t* source = strip.data();
  std::uint8_t* dest = output.data();
  TTIFFJPEGDecoder decoder(properties);
  try {
    decoder.DecodeInit();
    decoder.Decode(source, dest, static_cast<std::int32_t>(strip.size()), static_cast<std::int32_t>(output.size()),
                   output.size());
    decoder.DecodeEnd();
  } catch (const EGraphicCompression&) {
  }
  return 0;
}
