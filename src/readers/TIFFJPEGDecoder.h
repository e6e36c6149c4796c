// The decompressor of JPEG-compressed TIFF strips (compression 7), on libjpeg. Each strip is
// a JPEG stream of its own; the quantisation and Huffman tables they share may come once, in
// the file's JPEGTables field, as a stream of tables only. The decompressor reads the
// properties the TIFF reader filled (size, samples, rows per strip, the current row and
// strip, subsampling, colour scheme, tables) and checks every strip's JPEG header against
// them before it writes a byte.
//
// Output rows: YCbCr strips come out as 8-bit blue, green, red pixels; all others as the
// samples are stored (grey, RGB, CMYK ...), one byte per sample. A strip that ends early is
// finished as if an end-of-image marker followed, with a warning (LogWarning); libjpeg's own
// warnings are logged the same way, each text once per picture.
#pragma once

#include <memory>

#include "picture/ImageProperties.h"
#include "readers/GraphicCompression.h"

namespace driftpost {

class TTIFFJPEGDecoder : public TUnpackOnlyDecoder {
 public:
  // Keeps a reference to the reader's properties, which must outlive the decompressor.
  explicit TTIFFJPEGDecoder(const TImageProperties& properties);
  ~TTIFFJPEGDecoder() override;
  TTIFFJPEGDecoder(const TTIFFJPEGDecoder&) = delete;
  TTIFFJPEGDecoder& operator=(const TTIFFJPEGDecoder&) = delete;

  // Creates the libjpeg decompression object and reads the tables, if the file has any.
  // Raises EGraphicCompression "Bogus JPEG tables field." for tables libjpeg cannot read as
  // a tables-only stream.
  void DecodeInit() override;
  // Decodes one strip of `packedSize` bytes into min(unpackedSize, destSize) bytes of rows.
  // Raises EGraphicCompression: "Improper JPEG strip/tile size.", "Improper JPEG component
  // count.", "Improper JPEG data precision.", "Improper JPEG sampling factors.", "Fractional
  // JPEG scanline unsupported.", or "JPEG decompression error. " and libjpeg's message.
  // Neither pointer is advanced.
  void Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize, std::int32_t unpackedSize,
              std::size_t destSize) override;
  // Destroys the decompression object.
  void DecodeEnd() override;

  struct TWork;  // the libjpeg state, kept on the heap and out of this header

 private:
  const TImageProperties& properties_;
  std::unique_ptr<TWork> work_;
};

}  // namespace driftpost
