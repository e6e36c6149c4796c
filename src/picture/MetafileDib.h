// Device-independent bitmaps inside metafile records: read with the bitmap file reader (so
// they are checked exactly as bitmap files are) and turned into Cairo image surfaces.
#pragma once

#include <cairo.h>

#include <cstddef>

#include "picture/MetafileCanvas.h"

namespace driftpost {
class TBitmap;
}

namespace driftpost::metafile {

// Reads a packed bitmap: `header` holds the bitmap info (header and colour table) and,
// when `bits` is empty, the pixels after it. False, with nothing allocated beyond the
// header check, for a bitmap the reader refuses or whose pixels would take more than
// `maxBytes`.
bool ReadDib(TBytes header, TBytes bits, std::size_t maxBytes, TBitmap& bitmap);

// The pixels of the `width` by `height` part of `bitmap` at (left, top), every `stepX`-th
// column of every `stepY`-th row, as an image surface: premultiplied with the pixels' own
// alpha when `alpha` is set, opaque otherwise. None when Cairo cannot make it.
cairo_surface_t* BitmapToSurface(const TBitmap& bitmap, int left, int top, int width, int height, int stepX,
                                 int stepY, bool alpha);

// A whole small bitmap (a pattern brush's) as an opaque surface; none when it cannot be read
// or has more than `maxPixels` pixels. The work is charged to `budget`.
cairo_surface_t* DibToSurface(TBytes header, TBytes bits, std::size_t maxPixels, TWorkBudget& budget);

}  // namespace driftpost::metafile
