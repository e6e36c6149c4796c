#include "picture/PictureLimits.h"

namespace driftpost {

namespace {
TPictureLimits limits;
}

const TPictureLimits& PictureLimits() { return limits; }

void SetPictureLimits(const TPictureLimits& newLimits) { limits = newLimits; }

int BitsPerPixelOf(TPixelDepth depth) {
  switch (depth) {
    case pd1Bit: return 1;
    case pd4Bit: return 4;
    case pd8Bit: return 8;
    case pd15Bit:
    case pd16Bit: return 16;
    case pd24Bit: return 24;
    case pd32Bit:
    case pdDevice: return 32;
    default: return 0;
  }
}

std::optional<std::size_t> BytesPerRowOf(std::uint64_t width, TPixelDepth depth) {
  const int bits = BitsPerPixelOf(depth);
  if (bits == 0) return std::nullopt;
  std::uint64_t rowBits;
  if (__builtin_mul_overflow(width, static_cast<std::uint64_t>(bits), &rowBits)) return std::nullopt;
  if (rowBits > UINT64_MAX - 31) return std::nullopt;
  const std::uint64_t bytes = (rowBits + 31) / 32 * 4;
  if (bytes > SIZE_MAX) return std::nullopt;
  return static_cast<std::size_t>(bytes);
}

bool PictureSizeAllowed(std::uint64_t width, std::uint64_t height, TPixelDepth depth) {
  if (BitsPerPixelOf(depth) == 0) return false;
  if (width == 0 || height == 0) return true;
  std::uint64_t pixels;
  if (__builtin_mul_overflow(width, height, &pixels) || pixels > limits.MaxPixels) return false;
  const std::optional<std::size_t> row = BytesPerRowOf(width, depth);
  std::uint64_t bytes;
  if (!row || __builtin_mul_overflow(static_cast<std::uint64_t>(*row), height, &bytes)) return false;
  return bytes <= limits.MaxBytes;
}

std::optional<std::size_t> CheckedProduct(std::size_t a, std::size_t b) {
  std::size_t product;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

}  // namespace driftpost
