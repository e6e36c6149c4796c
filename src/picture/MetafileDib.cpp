#include "picture/MetafileDib.h"

#include <algorithm>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/BitmapFile.h"
#include "picture/ByteOrder.h"
#include "picture/ByteView.h"
#include "picture/PictureLimits.h"

namespace driftpost::metafile {

namespace {

// The size the decoded pixels will take, from the header alone; none when it is no header
// the reader would take.
std::optional<std::uint64_t> DecodedBytes(TBytes header) {
  if (header.Size < 12) return std::nullopt;
  const std::uint32_t size = LoadLE32(header.Data);
  std::int64_t width, height;
  int bits;
  if (size == 12) {
    width = LoadLE16(header.Data + 4);
    height = LoadLE16(header.Data + 6);
    bits = LoadLE16(header.Data + 10);
  } else {
    if (header.Size < 16) return std::nullopt;
    width = static_cast<std::int32_t>(LoadLE32(header.Data + 4));
    height = static_cast<std::int32_t>(LoadLE32(header.Data + 8));
    bits = LoadLE16(header.Data + 14);
  }
  height = height < 0 ? -height : height;
  if (width <= 0 || height <= 0) return std::nullopt;
  // 16-bit pixels of unusual masks are widened to 32 bits.
  const TPixelDepth depth = bits <= 1 ? pd1Bit : bits <= 4 ? pd4Bit : bits <= 8 ? pd8Bit : bits <= 24 ? pd24Bit : pd32Bit;
  const std::optional<std::size_t> row = BytesPerRowOf(static_cast<std::uint64_t>(width), bits == 16 ? pd32Bit : depth);
  if (!row) return std::nullopt;
  std::uint64_t total;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(*row), static_cast<std::uint64_t>(height), &total))
    return std::nullopt;
  return total;
}

}  // namespace

bool ReadDib(TBytes header, TBytes bits, std::size_t maxBytes, TBitmap& bitmap) {
  const std::optional<std::uint64_t> bytes = DecodedBytes(header);
  if (!bytes || *bytes > maxBytes) return false;
  // The pixels usually follow the header; when a record keeps them apart, they are joined.
  std::vector<std::uint8_t> joined;
  TBytes packed = header;
  if (bits.Size > 0 && bits.Data != header.Data + header.Size) {
    joined.assign(header.Data, header.Data + header.Size);
    joined.insert(joined.end(), bits.Data, bits.Data + bits.Size);
    packed = TBytes{joined.data(), joined.size()};
  } else if (bits.Size > 0) {
    packed.Size += bits.Size;
  }
  try {
    TByteView view(packed.Data, packed.Size);
    ReadBitmapFile(view, bitmap, "TMetafile");
  } catch (const Exception&) {
    bitmap.FreeImage();
    return false;
  }
  return !bitmap.Empty();
}

cairo_surface_t* BitmapToSurface(const TBitmap& bitmap, int left, int top, int width, int height, int stepX,
                                 int stepY, bool alpha) {
  const int columns = (width + stepX - 1) / stepX, rows = (height + stepY - 1) / stepY;
  cairo_surface_t* surface = cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, columns, rows);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  std::vector<TBGRA> row(static_cast<std::size_t>(bitmap.Width()));
  for (int y = 0; y < rows; ++y) {
    bitmap.UnpackScanLine(top + y * stepY, row.data());
    auto* out = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < columns; ++x) {
      TBGRA pixel = row[static_cast<std::size_t>(left + x * stepX)];
      if (alpha) {
        // Blended bitmaps carry premultiplied colours; a colour above its alpha is cut to it.
        const std::uint32_t a = pixel >> 24;
        const std::uint32_t b = std::min(pixel & 0xFF, a), g = std::min(pixel >> 8 & 0xFF, a),
                            r = std::min(pixel >> 16 & 0xFF, a);
        pixel = a << 24 | r << 16 | g << 8 | b;
      } else {
        pixel |= 0xFF000000;
      }
      out[x] = pixel;
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

cairo_surface_t* DibToSurface(TBytes header, TBytes bits, std::size_t maxPixels, TWorkBudget& budget) {
  TBitmap bitmap;
  if (!ReadDib(header, bits, maxPixels * 4, bitmap)) return nullptr;
  const std::size_t pixels = static_cast<std::size_t>(bitmap.Width()) * static_cast<std::size_t>(bitmap.Height());
  budget.Spend(2.0 * static_cast<double>(pixels));
  if (pixels > maxPixels) return nullptr;
  return BitmapToSurface(bitmap, 0, 0, bitmap.Width(), bitmap.Height(), 1, 1, false);
}

}  // namespace driftpost::metafile
