#include "picture/MetafilePlayer.h"

#include <cairo.h>

#include <algorithm>
#include <memory>

#include "picture/Bitmap.h"
#include "picture/EmfPlayer.h"
#include "picture/MetafileCanvas.h"
#include "picture/MetafileHeader.h"
#include "picture/WmfPlayer.h"

namespace driftpost {

namespace {

using metafile::TBoxD;
using metafile::TMatrix;

// A tile holds at most this many pixels (16 MiB of Cairo's 32-bit pixels) and is at most
// this wide, well within what Cairo's surfaces allow.
constexpr std::int64_t TilePixels = std::int64_t{1} << 22;
constexpr int TileWidth = 4096;
// Object indices stay within 16 bits in both formats.
constexpr std::size_t ObjectLimit = 0x10000;

// Work a drawing may do: a second or two, about four times what filling the largest picture
// allowed takes (MetafileCanvas.h).
double WorkBudgetUnits() { return 4.0 * static_cast<double>(PictureLimits().MaxPixels) + (1 << 24); }

struct TSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct TContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Where the metafile's own coordinates land on the picture of `width` by `height` pixels:
// the old format's window is mapped by the canvas onto the picture itself; the enhanced
// format's reference device is mapped so that its frame fills the picture.
TMatrix DeviceToPicture(const metafile::TMetafileHeader& header) {
  if (header.Kind != metafile::TMetafileKind::Enhanced) return TMatrix{};
  const double perMillimetreX = header.DeviceMillimetres.X > 0 ? header.DevicePixels.X / header.DeviceMillimetres.X : 0;
  const double perMillimetreY = header.DeviceMillimetres.Y > 0 ? header.DevicePixels.Y / header.DeviceMillimetres.Y : 0;
  TBoxD frame{header.Frame.Left * perMillimetreX / 100, header.Frame.Top * perMillimetreY / 100,
              header.Frame.Right * perMillimetreX / 100, header.Frame.Bottom * perMillimetreY / 100};
  // A header without a usable reference device is placed by its bounds instead.
  if (!(frame.Width() > 0 && frame.Height() > 0)) frame = header.Bounds;
  if (!(frame.Width() > 0 && frame.Height() > 0)) return TMatrix{0, 0, 0, 0, 0, 0};
  const double sx = static_cast<double>(header.Width) / frame.Width();
  const double sy = static_cast<double>(header.Height) / frame.Height();
  return TMatrix{sx, 0, 0, sy, -frame.Left * sx, -frame.Top * sy};
}

void PlayTile(const std::vector<std::uint8_t>& file, const metafile::TMetafileHeader& header, TBitmap& target,
              const TMatrix& pictureToTarget, const TRect& tile, const TRect& visible, metafile::TWorkBudget& budget) {
  const int width = tile.Width(), height = tile.Height();
  std::unique_ptr<cairo_surface_t, TSurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;

  // The tile starts as the bitmap shows it: a metafile paints only where its records do.
  const int stride = cairo_image_surface_get_stride(surface.get());
  unsigned char* pixels = cairo_image_surface_get_data(surface.get());
  std::vector<TBGRA> line(static_cast<std::size_t>(target.Width()));
  TBGRA palette[256];
  ExpandPalette(target.Palette(), palette);
  auto unpack = [&](int y) { UnpackRow(target.ScanLine(y), target.PixelFormat(), palette, target.Width(), line.data()); };
  cairo_surface_flush(surface.get());
  for (int y = 0; y < height; ++y) {
    unpack(tile.Top + y);
    std::copy_n(line.begin() + tile.Left, width, reinterpret_cast<std::uint32_t*>(pixels + std::ptrdiff_t{y} * stride));
  }
  cairo_surface_mark_dirty(surface.get());

  {
    std::unique_ptr<cairo_t, TContextDeleter> cr(cairo_create(surface.get()));
    const TMatrix toTile = DeviceToPicture(header).Then(pictureToTarget).Then(
        TMatrix{1, 0, 0, 1, -static_cast<double>(tile.Left), -static_cast<double>(tile.Top)});
    const TBoxD clip{double(std::max(visible.Left, tile.Left) - tile.Left),
                     double(std::max(visible.Top, tile.Top) - tile.Top),
                     double(std::min(visible.Right, tile.Right) - tile.Left),
                     double(std::min(visible.Bottom, tile.Bottom) - tile.Top)};
    metafile::TMetafileCanvas canvas(cr.get(), toTile, clip, budget, ObjectLimit);
    if (header.Kind == metafile::TMetafileKind::Enhanced) {
      if (header.DeviceMillimetres.X > 0 && header.DeviceMillimetres.Y > 0)
        canvas.SetDeviceResolution(header.DevicePixels.X / header.DeviceMillimetres.X,
                                   header.DevicePixels.Y / header.DeviceMillimetres.Y);
      metafile::PlayEmf(header, file.data(), file.size(), canvas);
    } else {
      canvas.SetFixedViewport({0, 0, double(header.Width), double(header.Height)});
      metafile::PlayWmf(header, file.data(), file.size(), canvas);
    }
  }
  cairo_surface_flush(surface.get());

  TColorMatcher matcher(target.Palette(), 1 << std::min(target.BitsPerPixel(), 8));
  for (int y = 0; y < height; ++y) {
    unpack(tile.Top + y);
    const auto* drawn = reinterpret_cast<const std::uint32_t*>(pixels + std::ptrdiff_t{y} * stride);
    // Cairo leaves the fourth byte undefined; the bitmap keeps its own.
    for (int x = 0; x < width; ++x) {
      TBGRA& out = line[static_cast<std::size_t>(tile.Left + x)];
      out = (drawn[x] & 0xFFFFFF) | (out & 0xFF000000);
    }
    PackRow(line.data(), target.Width(), target.PixelFormat(), &matcher, target.ScanLine(tile.Top + y));
  }
}

}  // namespace

void PlayMetafile(const std::vector<std::uint8_t>& file, TBitmap& target, const TRect& rect) {
  if (file.empty() || target.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  metafile::TMetafileHeader header;
  try {
    header = metafile::ReadMetafileHeader(file.data(), file.size());
  } catch (const Exception&) {
    return;
  }
  if (header.Width <= 0 || header.Height <= 0) return;
  const TRect visible{std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, target.Width()),
                      std::min(rect.Bottom, target.Height())};
  if (visible.Left >= visible.Right || visible.Top >= visible.Bottom) return;

  // The picture's pixels stretched into the rectangle.
  const TMatrix pictureToTarget{static_cast<double>(rect.Width()) / static_cast<double>(header.Width), 0, 0,
                                static_cast<double>(rect.Height()) / static_cast<double>(header.Height),
                                static_cast<double>(rect.Left), static_cast<double>(rect.Top)};
  metafile::TWorkBudget budget(WorkBudgetUnits());
  const int tileWidth = std::min(visible.Width(), TileWidth);
  const int tileHeight = static_cast<int>(std::clamp<std::int64_t>(TilePixels / tileWidth, 1, visible.Height()));
  for (int top = visible.Top; top < visible.Bottom && !budget.Exhausted(); top += tileHeight)
    for (int left = visible.Left; left < visible.Right && !budget.Exhausted(); left += tileWidth) {
      const TRect tile{left, top, std::min(left + tileWidth, visible.Right), std::min(top + tileHeight, visible.Bottom)};
      PlayTile(file, header, target, pictureToTarget, tile, visible, budget);
    }
}

}  // namespace driftpost
