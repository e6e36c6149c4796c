#include "picture/Icon.h"

#include <algorithm>

#include "picture/BitmapFile.h"
#include "picture/ByteView.h"
#include "picture/ByteOrder.h"
#include "picture/PictureLimits.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace driftpost {

namespace {

constexpr std::size_t DirectoryHeaderSize = 6;
constexpr std::size_t DirectoryEntrySize = 16;
constexpr std::size_t InfoHeaderSize = 40;


[[noreturn]] void Invalid() { throw EInvalidGraphic(Format(InvalidImageMessage, {"TIcon"})); }

}  // namespace

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

TGraphicClass TIcon::StaticClass() {
  static const TGraphicClassInfo info{"TIcon", TGraphic::StaticClass(), &CreateGraphicOf<TIcon>};
  return &info;
}

void TIcon::LoadStream(TStream& stream) {
  const std::int64_t remaining = std::max<std::int64_t>(0, stream.Size() - stream.Position());
  std::vector<std::uint8_t> file(static_cast<std::size_t>(remaining));
  stream.ReadBuffer(file.data(), remaining);
  const std::size_t size = file.size();
  if (size < DirectoryHeaderSize) Invalid();
  const std::uint8_t* data = file.data();
  const unsigned count = LoadLE16(data + 4);
  if (LoadLE16(data) != 0 || LoadLE16(data + 2) != 1 || count == 0) Invalid();
  if (DirectoryHeaderSize + std::size_t{count} * DirectoryEntrySize > size) Invalid();

  // The first image that is stored as a device-independent bitmap is the icon; images
  // stored as PNG (and entries pointing nowhere) are passed over.
  std::size_t chosen = 0;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) {
    const std::uint8_t* entry = data + DirectoryHeaderSize + i * DirectoryEntrySize;
    const std::size_t offset = LoadLE32(entry + 12);
    if (offset > size || size - offset < InfoHeaderSize) continue;
    const std::uint8_t* header = data + offset;
    const std::uint32_t headerSize = LoadLE32(header);
    if (headerSize < InfoHeaderSize || headerSize > 124) continue;  // a PNG image or something unknown
    const std::int64_t width = static_cast<std::int32_t>(LoadLE32(header + 4));
    const std::int64_t height = static_cast<std::int32_t>(LoadLE32(header + 8)) / 2;
    if (width <= 0 || height <= 0) continue;
    chosen = offset;
    found = true;
  }
  if (!found) Invalid();

  TByteView view(data + chosen, size - chosen);
  TBitmap image;
  const TDibInfo info = ReadIconImage(view, image, "TIcon");
  const int width = image.Width(), height = image.Height();

  // The AND mask follows the colour rows, bottom row first. A file cut short before it (as
  // some writers of 32-bit icons do) leaves the missing part opaque.
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  const std::size_t maskRowBytes = (static_cast<std::size_t>(width) + 31) / 32 * 4;
  std::vector<std::uint8_t> maskRow(maskRowBytes);
  for (int fileRow = 0; fileRow < height; ++fileRow) {
    if (static_cast<std::size_t>(view.Read(maskRow.data(), static_cast<std::int64_t>(maskRowBytes))) < maskRowBytes)
      break;
    std::uint8_t* out = &mask[static_cast<std::size_t>(height - 1 - fileRow) * static_cast<std::size_t>(width)];
    for (int x = 0; x < width; ++x) out[x] = (maskRow[static_cast<std::size_t>(x) >> 3] >> (7 - (x & 7))) & 1;
  }

  bool alpha = false;
  if (info.BitCount == 32) {
    for (int y = 0; y < height && !alpha; ++y) {
      const std::uint8_t* row = image.ScanLine(y);
      for (int x = 0; x < width; ++x)
        if (row[4 * x + 3]) {
          alpha = true;
          break;
        }
    }
  }

  image_.FreeImage();
  image_.CopyFrom(&image);
  mask_ = std::move(mask);
  hasAlpha_ = alpha;
  file_ = std::move(file);
  Changed();
}

void TIcon::SaveStream(TStream& stream) {
  if (!file_.empty()) stream.WriteBuffer(file_.data(), static_cast<std::int64_t>(file_.size()));
}

void TIcon::CopyFrom(const TGraphic* source) {
  if (!source) {
    image_.FreeImage();
    mask_.clear();
    file_.clear();
    hasAlpha_ = false;
    Changed();
    return;
  }
  const auto* icon = dynamic_cast<const TIcon*>(source);
  if (!icon) RaiseAssignError(source, ClassName());
  if (icon == this) return;
  image_.CopyFrom(&icon->image_);
  mask_ = icon->mask_;
  hasAlpha_ = icon->hasAlpha_;
  file_ = icon->file_;
  Changed();
}

void TIcon::Draw(TBitmap& target, const TRect& rect) {
  if (Empty() || target.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, target.Width());
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, target.Height());
  if (left >= right || top >= bottom) return;
  const int width = image_.Width(), height = image_.Height();
  std::vector<TBGRA> source(static_cast<std::size_t>(width));
  std::vector<TBGRA> line(static_cast<std::size_t>(target.Width()));
  TColorMatcher matcher(target.Palette(), 1 << std::min(target.BitsPerPixel(), 8));
  for (int y = top; y < bottom; ++y) {
    const int sourceRow = static_cast<int>(static_cast<std::int64_t>(y - rect.Top) * height / rect.Height());
    image_.UnpackScanLine(sourceRow, source.data());
    const std::uint8_t* maskRow = &mask_[static_cast<std::size_t>(sourceRow) * static_cast<std::size_t>(width)];
    target.UnpackScanLine(y, line.data());
    for (int x = left; x < right; ++x) {
      const int sourceColumn = static_cast<int>(static_cast<std::int64_t>(x - rect.Left) * width / rect.Width());
      const TBGRA pixel = source[static_cast<std::size_t>(sourceColumn)];
      TBGRA& out = line[static_cast<std::size_t>(x)];
      if (hasAlpha_) {
        const unsigned a = pixel >> 24;
        TBGRA mixed = 0;
        for (int shift = 0; shift < 24; shift += 8) {
          const unsigned front = pixel >> shift & 0xFF, back = out >> shift & 0xFF;
          mixed |= ((front * a + back * (255 - a) + 127) / 255) << shift;
        }
        out = mixed;
      } else if (maskRow[sourceColumn]) {
        out ^= pixel & 0xFFFFFF;
      } else {
        out = pixel & 0xFFFFFF;
      }
    }
    PackRow(line.data(), target.Width(), target.PixelFormat(), &matcher, target.ScanLine(y));
  }
}

}  // namespace driftpost
