// How large a decoded picture may be, and the overflow-checked size arithmetic that every
// reader uses before it allocates. A file header may claim any width and height; a picture
// whose bitmap would exceed the limits is refused as an invalid picture instead of being
// allocated (or of wrapping a size computation round to a small number).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "picture/PixelDepth.h"

namespace driftpost {

struct TPictureLimits {
  std::uint64_t MaxPixels = std::uint64_t{1} << 28;
  std::uint64_t MaxBytes = std::uint64_t{1} << 30;
};

// The limits in force. Only fuzz targets lower them, to keep each input quick.
const TPictureLimits& PictureLimits();
void SetPictureLimits(const TPictureLimits& limits);

// Bits one pixel takes in a bitmap of this depth: 1, 4, 8, 16, 24 or 32 (the display's format
// counts as 32); 0 for pdCustom, which no bitmap can have.
int BitsPerPixelOf(TPixelDepth depth);

// Bytes of one bitmap row, padded to a multiple of 4; nothing when the product overflows.
std::optional<std::size_t> BytesPerRowOf(std::uint64_t width, TPixelDepth depth);

// True when a bitmap of this size and depth fits the limits: at most MaxPixels pixels and
// MaxBytes bytes of pixel rows. A zero width or height always fits; pdCustom never does.
bool PictureSizeAllowed(std::uint64_t width, std::uint64_t height, TPixelDepth depth);

// a × b, or nothing when the product does not fit a size_t.
std::optional<std::size_t> CheckedProduct(std::size_t a, std::size_t b);

}  // namespace driftpost
