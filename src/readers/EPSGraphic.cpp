#include "readers/EPSGraphic.h"

#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

struct TEPSHeader {
  static constexpr std::size_t Size = 30;
  static constexpr std::uint32_t MagicNumber = 0xC6D3D0C5;

  std::uint32_t Magic;
  std::uint32_t TIFFOffset;  // from the file's start
  std::uint32_t TIFFLength;

  // The offsets and lengths of the PostScript (4, 8) and the metafile (12, 16) and the
  // checksum (28) are not used.
  static TEPSHeader Read(TStream& stream) {
    const auto bytes = ReadHeaderBytes<Size>(stream);
    return TEPSHeader{LoadLE32(&bytes[0]), LoadLE32(&bytes[20]), LoadLE32(&bytes[24])};
  }
};

[[noreturn]] void RaiseInvalidEPS() { GraphicExError(InvalidImageMessage, {"EPS"}); }

}  // namespace

bool TEPSGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TEPSHeader::Size)) return false;
  const TEPSHeader header = TEPSHeader::Read(stream);
  return header.Magic == TEPSHeader::MagicNumber && header.TIFFOffset > TEPSHeader::Size && header.TIFFLength > 0;
}

void TEPSGraphic::LoadStream(TStream& stream) {
  const std::int64_t start = stream.Position();
  const std::int64_t size = BytesLeft(stream);
  if (size < static_cast<std::int64_t>(TEPSHeader::Size)) RaiseInvalidEPS();
  const TEPSHeader header = TEPSHeader::Read(stream);
  if (header.Magic != TEPSHeader::MagicNumber) RaiseInvalidEPS();
  // The preview must begin after the header and inside the file; the TIFF reader keeps
  // every read of it inside the file too.
  if (header.TIFFOffset < TEPSHeader::Size || header.TIFFOffset >= size) RaiseInvalidEPS();
  stream.SetPosition(start + header.TIFFOffset);
  TTIFFGraphic::LoadStream(stream);
}

}  // namespace driftpost
