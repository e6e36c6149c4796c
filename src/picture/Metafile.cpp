#include "picture/Metafile.h"

#include <algorithm>
#include <cstdlib>

#include "picture/ByteOrder.h"
#include "picture/PictureLimits.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace driftpost {

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

}  // namespace

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

TGraphicClass TMetafile::StaticClass() {
  static const TGraphicClassInfo info{"TMetafile", TGraphic::StaticClass(), &CreateGraphicOf<TMetafile>};
  return &info;
}

void TMetafile::LoadStream(TStream& stream) {
  const std::int64_t remaining = std::max<std::int64_t>(0, stream.Size() - stream.Position());
  std::vector<std::uint8_t> file(static_cast<std::size_t>(remaining));
  stream.ReadBuffer(file.data(), remaining);
  const std::uint8_t* data = file.data();
  const std::size_t size = file.size();

  std::int64_t width = 0, height = 0;
  bool enhanced = false;
  if (size >= PlaceableHeaderSize + MetaHeaderSize && LoadLE32(data) == PlaceableKey) {
    // The bounding box is in logical units, `inch` of them to the inch.
    const std::int64_t inch = LoadLE16(data + 14);
    if (inch == 0 || !IsMetaHeader(data + PlaceableHeaderSize)) Invalid();
    const std::int64_t left = GetSigned16(data + 6), top = GetSigned16(data + 8);
    const std::int64_t right = GetSigned16(data + 10), bottom = GetSigned16(data + 12);
    width = ScaleRounded(std::abs(right - left), ScreenDotsPerInch, inch);
    height = ScaleRounded(std::abs(bottom - top), ScreenDotsPerInch, inch);
  } else if (size >= EnhancedHeaderMinimum && LoadLE32(data) == 1 && LoadLE32(data + 40) == EnhancedSignature) {
    // The frame is in hundredths of a millimetre.
    enhanced = true;
    const std::int64_t left = GetSigned32(data + 24), top = GetSigned32(data + 28);
    const std::int64_t right = GetSigned32(data + 32), bottom = GetSigned32(data + 36);
    width = ScaleRounded(std::llabs(right - left), ScreenDotsPerInch, HundredthMillimetresPerInch);
    height = ScaleRounded(std::llabs(bottom - top), ScreenDotsPerInch, HundredthMillimetresPerInch);
  } else if (size >= MetaHeaderSize && IsMetaHeader(data)) {
    FindWindowExtent(data, size, width, height);
  } else {
    Invalid();
  }
  if (width > INT32_MAX || height > INT32_MAX ||
      !PictureSizeAllowed(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), pd32Bit))
    Invalid();

  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  enhanced_ = enhanced;
  file_ = std::move(file);
  Changed();
}

void TMetafile::SaveStream(TStream& stream) {
  if (!file_.empty()) stream.WriteBuffer(file_.data(), static_cast<std::int64_t>(file_.size()));
}

void TMetafile::CopyFrom(const TGraphic* source) {
  if (source == this) return;
  if (!source) {
    width_ = height_ = 0;
    enhanced_ = false;
    file_.clear();
    Changed();
    return;
  }
  const auto* metafile = dynamic_cast<const TMetafile*>(source);
  if (!metafile) RaiseAssignError(source, ClassName());
  width_ = metafile->width_;
  height_ = metafile->height_;
  enhanced_ = metafile->enhanced_;
  file_ = metafile->file_;
  Changed();
}

void TMetafile::SetWidth(int width) {
  if (width < 0) throw EInvalidGraphicOperation("Ungültige Größe");
  width_ = width;
  Changed();
}

void TMetafile::SetHeight(int height) {
  if (height < 0) throw EInvalidGraphicOperation("Ungültige Größe");
  height_ = height;
  Changed();
}

// No records are played: the target keeps what it shows.
void TMetafile::Draw(TBitmap&, const TRect&) {}

}  // namespace driftpost
