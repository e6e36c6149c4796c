#include "picture/MetafileHeader.h"

#include <cstdlib>

#include "picture/ByteOrder.h"
#include "picture/Graphic.h"
#include "platform/Format.h"

namespace driftpost::metafile {

namespace {

constexpr std::uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr std::uint32_t EnhancedSignature = 0x464D4520;  // " EMF"
constexpr std::size_t PlaceableHeaderSize = 22;
constexpr std::size_t MetaHeaderSize = 18;
constexpr std::size_t EnhancedHeaderMinimum = 88;
constexpr std::uint16_t MetaSetWindowExtent = 0x020C;
constexpr int ScreenDotsPerInch = 96;
constexpr int HundredthMillimetresPerInch = 2540;

inline std::int16_t GetSigned16(const std::uint8_t* p) { return static_cast<std::int16_t>(LoadLE16(p)); }
inline std::int32_t GetSigned32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadLE32(p)); }

[[noreturn]] void Invalid() { throw EInvalidGraphic(Format(InvalidImageMessage, {"TMetafile"})); }

// value × numerator ÷ denominator, rounded half away from zero, in 64 bits.
std::int64_t ScaleRounded(std::int64_t value, std::int64_t numerator, std::int64_t denominator) {
  const std::int64_t product = value * numerator;
  return (product + (product < 0 ? -denominator / 2 : denominator / 2)) / denominator;
}

// A plain metafile header: memory or disk metafile, nine words long.
bool IsMetaHeader(const std::uint8_t* p) {
  const std::uint16_t type = LoadLE16(p), words = LoadLE16(p + 2);
  return (type == 1 || type == 2) && words == 9;
}

// A plain metafile says its size only through the window extent that its records set; the
// first such record wins. Records are walked only as far as the data reaches.
bool FindWindowExtent(const std::uint8_t* data, std::size_t size, std::int64_t& width, std::int64_t& height) {
  std::size_t at = MetaHeaderSize;
  while (at + 6 <= size) {
    const std::uint64_t words = LoadLE32(data + at);
    const std::uint16_t function = LoadLE16(data + at + 4);
    if (function == 0 || words < 3 || words * 2 > size - at) return false;
    if (function == MetaSetWindowExtent && words >= 5) {
      height = std::abs(GetSigned16(data + at + 6));
      width = std::abs(GetSigned16(data + at + 8));
      return true;
    }
    at += static_cast<std::size_t>(words * 2);
  }
  return false;
}

TBoxD BoxAt(const std::uint8_t* p) {
  return {double(GetSigned32(p)), double(GetSigned32(p + 4)), double(GetSigned32(p + 8)), double(GetSigned32(p + 12))};
}

}  // namespace

TMetafileHeader ReadMetafileHeader(const std::uint8_t* data, std::size_t size) {
  TMetafileHeader header;
  if (size >= PlaceableHeaderSize + MetaHeaderSize && LoadLE32(data) == PlaceableKey) {
    // The bounding box is in logical units, `inch` of them to the inch.
    const std::int64_t inch = LoadLE16(data + 14);
    if (inch == 0 || !IsMetaHeader(data + PlaceableHeaderSize)) Invalid();
    const std::int64_t left = GetSigned16(data + 6), top = GetSigned16(data + 8);
    const std::int64_t right = GetSigned16(data + 10), bottom = GetSigned16(data + 12);
    header.Kind = TMetafileKind::Placeable;
    header.Width = ScaleRounded(std::abs(right - left), ScreenDotsPerInch, inch);
    header.Height = ScaleRounded(std::abs(bottom - top), ScreenDotsPerInch, inch);
    header.Window = {double(left), double(top), double(right), double(bottom)};
    header.RecordsStart = PlaceableHeaderSize + MetaHeaderSize;
    header.ObjectCount = LoadLE16(data + PlaceableHeaderSize + 10);
  } else if (size >= EnhancedHeaderMinimum && LoadLE32(data) == 1 && LoadLE32(data + 40) == EnhancedSignature) {
    // The frame is in hundredths of a millimetre.
    header.Kind = TMetafileKind::Enhanced;
    header.Bounds = BoxAt(data + 8);
    header.Frame = BoxAt(data + 24);
    header.Width = ScaleRounded(std::llabs(std::int64_t(header.Frame.Right) - std::int64_t(header.Frame.Left)),
                                ScreenDotsPerInch, HundredthMillimetresPerInch);
    header.Height = ScaleRounded(std::llabs(std::int64_t(header.Frame.Bottom) - std::int64_t(header.Frame.Top)),
                                 ScreenDotsPerInch, HundredthMillimetresPerInch);
    header.ObjectCount = LoadLE16(data + 56);
    header.DevicePixels = {double(GetSigned32(data + 72)), double(GetSigned32(data + 76))};
    header.DeviceMillimetres = {double(GetSigned32(data + 80)), double(GetSigned32(data + 84))};
  } else if (size >= MetaHeaderSize && IsMetaHeader(data)) {
    header.Kind = TMetafileKind::Plain;
    FindWindowExtent(data, size, header.Width, header.Height);
    header.Window = {0, 0, double(header.Width), double(header.Height)};
    header.RecordsStart = MetaHeaderSize;
    header.ObjectCount = LoadLE16(data + 10);
  } else {
    Invalid();
  }
  return header;
}

}  // namespace driftpost::metafile
