#include "picture/Resample.h"

#include <algorithm>
#include <cmath>

#include "picture/Bitmap.h"

namespace driftpost {

namespace {

// The filters work in extended precision but keep what they reuse, and their result, in
// single precision; pictures resampled elsewhere with the same arithmetic then match to the
// last weight.
using Extended = long double;

constexpr Extended Pi = 3.14159265358979323846264338327950288L;

float Sinc(float x) {
  if (x == 0) return 1;
  const float product = static_cast<float>(Pi * x);
  return static_cast<float>(std::sin(static_cast<Extended>(product)) / product);
}

}  // namespace

float FilterValue(TResampleFilter filter, float x) {
  const float a = std::fabs(x);
  switch (filter) {
    case rfBox:
      return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
    case rfTriangle:
      return a < 1 ? static_cast<float>(1 - static_cast<Extended>(a)) : 0.0f;
    case rfHermite:
      if (a < 1) return static_cast<float>((2 * static_cast<Extended>(a) - 3) * a * a + 1);
      return 0;
    case rfBell:
      if (a < 0.5f) return static_cast<float>(0.75L - static_cast<Extended>(a) * a);
      if (a < 1.5f) {
        const float t = static_cast<float>(static_cast<Extended>(a) - 1.5L);
        return static_cast<float>(0.5L * t * t);
      }
      return 0;
    case rfSpline:
      if (a < 1) {
        const float square = static_cast<float>(static_cast<Extended>(a) * a);
        return static_cast<float>(0.5L * square * a - square + 2.0L / 3.0L);
      }
      if (a < 2) {
        const float t = static_cast<float>(2 - static_cast<Extended>(a));
        return static_cast<float>(static_cast<Extended>(t) * t * t / 6);
      }
      return 0;
    case rfLanczos3:
      if (a < 3) return static_cast<float>(static_cast<Extended>(Sinc(a)) * Sinc(static_cast<float>(a / 3.0L)));
      return 0;
    case rfMitchell: {
      const float square = static_cast<float>(static_cast<Extended>(a) * a);
      if (a < 1) {
        const float polynomial = static_cast<float>(7 * static_cast<Extended>(square) * a - 12 * static_cast<Extended>(square) + 16.0L / 3.0L);
        return static_cast<float>(static_cast<Extended>(polynomial) / 6);
      }
      if (a < 2) {
        const float polynomial = static_cast<float>(-7.0L / 3.0L * square * a + 12 * static_cast<Extended>(square) -
                                                    20 * static_cast<Extended>(a) + 32.0L / 3.0L);
        return static_cast<float>(static_cast<Extended>(polynomial) / 6);
      }
      return 0;
    }
  }
  return 0;
}

float DefaultFilterRadius(TResampleFilter filter) {
  switch (filter) {
    case rfBox: return 0.5f;
    case rfTriangle:
    case rfHermite: return 1.0f;
    case rfBell: return 1.5f;
    case rfSpline:
    case rfMitchell: return 2.0f;
    case rfLanczos3: return 3.0f;
  }
  return 1.0f;
}

float ResampleScale(std::uint32_t sourceLength, std::uint32_t targetLength) {
  if (sourceLength == 1 || targetLength == 1)
    return static_cast<float>(static_cast<Extended>(targetLength) / sourceLength);
  return static_cast<float>(static_cast<Extended>(targetLength - 1) / (static_cast<Extended>(sourceLength) - 1));
}

TContributorList BuildContributors(std::uint32_t sourceLength, std::uint32_t targetLength, float scale,
                                   float radius, TResampleFilter filter) {
  TContributorList list(targetLength);
  if (!(scale > 0) || sourceLength == 0) return list;
  radius = std::min(radius, DefaultFilterRadius(filter));
  const std::int64_t n = sourceLength;
  const bool shrinking = scale < 1;
  const float support = shrinking ? static_cast<float>(static_cast<Extended>(radius) / scale) : radius;
  const std::int64_t capacity = std::max<std::int64_t>(0, static_cast<std::int64_t>(static_cast<Extended>(support) * 2 + 1));
  for (std::uint32_t i = 0; i < targetLength; ++i) {
    TContributorEntry& entry = list[i];
    entry.Contributors.resize(static_cast<std::size_t>(capacity));
    const float centre = static_cast<float>(static_cast<Extended>(i) / scale);
    const std::int64_t first = static_cast<std::int64_t>(std::floor(static_cast<Extended>(centre) - support));
    const std::int64_t last = static_cast<std::int64_t>(std::ceil(static_cast<Extended>(centre) + support));
    for (std::int64_t j = first; j <= last; ++j) {
      Extended value;
      if (shrinking)
        value = static_cast<Extended>(FilterValue(filter, static_cast<float>((centre - static_cast<Extended>(j)) * scale))) * scale;
      else
        value = FilterValue(filter, static_cast<float>(centre - static_cast<Extended>(j)));
      const auto weight = static_cast<std::int32_t>(std::nearbyint(value * 256));
      if (weight == 0) continue;
      std::int64_t pixel = j < 0 ? -j : j >= n ? n - j + n - 1 : j;
      pixel = std::clamp<std::int64_t>(pixel, 0, n - 1);
      const TContributor contributor{weight, static_cast<std::int32_t>(pixel)};
      if (static_cast<std::size_t>(entry.Count) < entry.Contributors.size())
        entry.Contributors[static_cast<std::size_t>(entry.Count)] = contributor;
      else
        entry.Contributors.push_back(contributor);
      ++entry.Count;
    }
  }
  return list;
}

namespace {

// One source row or intermediate column, a channel per array.
struct TLineCache {
  std::vector<std::int32_t> Red, Green, Blue;
  void Size(std::size_t length) {
    Red.assign(length, 0);
    Green.assign(length, 0);
    Blue.assign(length, 0);
  }
};

inline std::uint8_t Channel(std::int64_t sum, std::int64_t total) {
  std::int64_t value = total != 0 ? sum / total : static_cast<std::int64_t>(static_cast<std::uint32_t>(sum) >> 8);
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(value, 0, 255));
}

// Writes the weighted pixel as blue, green, red.
inline void Apply(const TContributorEntry& entry, const TLineCache& cache, std::uint8_t* out) {
  std::int64_t total = 0, red = 0, green = 0, blue = 0;
  for (std::int32_t k = 0; k < entry.Count; ++k) {
    const TContributor& contributor = entry.Contributors[static_cast<std::size_t>(k)];
    const auto index = static_cast<std::size_t>(contributor.Pixel);
    total += contributor.Weight;
    red += static_cast<std::int64_t>(cache.Red[index]) * contributor.Weight;
    green += static_cast<std::int64_t>(cache.Green[index]) * contributor.Weight;
    blue += static_cast<std::int64_t>(cache.Blue[index]) * contributor.Weight;
  }
  out[0] = Channel(blue, total);
  out[1] = Channel(green, total);
  out[2] = Channel(red, total);
}

void RunPasses(TBitmap& source, TBitmap& target, TResampleFilter filter, float radius) {
  const int sourceWidth = source.Width(), sourceHeight = source.Height();
  const int targetWidth = target.Width(), targetHeight = target.Height();

  TBitmap intermediate;
  intermediate.SetPixelFormat(pd24Bit);
  intermediate.SetSize(targetWidth, sourceHeight);
  TLineCache cache;  // scratch of this call, and so of this thread only

  TContributorList list =
      BuildContributors(static_cast<std::uint32_t>(sourceWidth), static_cast<std::uint32_t>(targetWidth),
                        ResampleScale(static_cast<std::uint32_t>(sourceWidth), static_cast<std::uint32_t>(targetWidth)),
                        radius, filter);
  cache.Size(static_cast<std::size_t>(sourceWidth));
  for (int k = 0; k < sourceHeight; ++k) {
    const std::uint8_t* row = source.ScanLine(k);
    for (int x = 0; x < sourceWidth; ++x, row += 3) {
      cache.Blue[static_cast<std::size_t>(x)] = row[0];
      cache.Green[static_cast<std::size_t>(x)] = row[1];
      cache.Red[static_cast<std::size_t>(x)] = row[2];
    }
    std::uint8_t* out = intermediate.ScanLine(k);
    for (int i = 0; i < targetWidth; ++i, out += 3) Apply(list[static_cast<std::size_t>(i)], cache, out);
  }

  list = BuildContributors(static_cast<std::uint32_t>(sourceHeight), static_cast<std::uint32_t>(targetHeight),
                           ResampleScale(static_cast<std::uint32_t>(sourceHeight), static_cast<std::uint32_t>(targetHeight)),
                           radius, filter);
  cache.Size(static_cast<std::size_t>(sourceHeight));
  const std::ptrdiff_t intermediateStride = intermediate.RowStride();
  const std::ptrdiff_t targetStride = target.RowStride();
  for (int k = 0; k < targetWidth; ++k) {
    const std::uint8_t* in = intermediate.ScanLine(0) + 3 * static_cast<std::ptrdiff_t>(k);
    for (int y = 0; y < sourceHeight; ++y, in += intermediateStride) {
      cache.Blue[static_cast<std::size_t>(y)] = in[0];
      cache.Green[static_cast<std::size_t>(y)] = in[1];
      cache.Red[static_cast<std::size_t>(y)] = in[2];
    }
    std::uint8_t* out = target.ScanLine(0) + 3 * static_cast<std::ptrdiff_t>(k);
    for (int j = 0; j < targetHeight; ++j, out += targetStride) Apply(list[static_cast<std::size_t>(j)], cache, out);
  }
}

}  // namespace

void Resample(std::uint32_t newWidth, std::uint32_t newHeight, TResampleFilter filter, float radius, TBitmap& bitmap) {
  if (!(radius > 0)) radius = DefaultFilterRadius(filter);
  TBitmap target;
  target.SetPixelFormat(pd24Bit);
  target.CheckImageSize(newWidth, newHeight);
  target.SetSize(static_cast<int>(newWidth), static_cast<int>(newHeight));
  bitmap.SetPixelFormat(pd24Bit);
  if (!bitmap.Empty() && !target.Empty()) RunPasses(bitmap, target, filter, radius);
  bitmap.CopyFrom(&target);
}

}  // namespace driftpost
