#include "picture/Resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// value rounded to the nearest integer, a half to the even one, for |value| < 2^62: adding
// and taking away 1.5 × 2^63 leaves no fraction bits in the 64-bit significand, so the
// addition rounds in the default mode, to nearest with ties to even. Unlike nearbyint it
// needs no library call, which matters as it runs for every weight.
Extended RoundHalfEven(Extended value) {
  constexpr Extended Shift = 0x1.8p63L;
  static_assert(std::numeric_limits<Extended>::digits == 64);
  return (value + Shift) - Shift;
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
      const auto weight = static_cast<std::int32_t>(RoundHalfEven(value * 256));
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

// The inner loops compute in single precision, which is exact here: every product of a pixel
// value (at most 255) and a weight, and every partial sum, is an integer below 2^24. The
// weights of one target pixel add up to less than 4096 in magnitude: each non-zero weight is
// at most twice its unrounded value, and those form a Riemann sum of the filter's absolute
// value (scaled by 256; its integral and variation are small for every filter, and the
// radius never exceeds the filter's own support), or at most seven values of at most 256
// when enlarging. So every sum stays below 255 × 4096 < 2^20.

// One source pixel: blue, green and red in the first three lanes of a vector, so one
// multiply-add of four lanes weighs a whole pixel.
using TLanes = float __attribute__((vector_size(16)));
using TIntegerLanes = std::int32_t __attribute__((vector_size(16)));

// The weights of one dimension laid out flat: target pixel i has the contributors from
// First[i] up to First[i + 1], and divides its sums as Divisions[i] says.
struct TPreparedList {
  std::vector<std::size_t> First;
  std::vector<float> Weights;
  std::vector<std::int32_t> Pixels;
  std::vector<TChannelDivision> Divisions;

  explicit TPreparedList(const TContributorList& list) {
    First.reserve(list.size() + 1);
    Divisions.reserve(list.size());
    for (const TContributorEntry& entry : list) {
      First.push_back(Weights.size());
      std::int32_t total = 0;
      bool positive = true;
      for (std::int32_t k = 0; k < entry.Count; ++k) {
        const TContributor& contributor = entry.Contributors[static_cast<std::size_t>(k)];
        Weights.push_back(static_cast<float>(contributor.Weight));
        Pixels.push_back(contributor.Pixel);
        total += contributor.Weight;
        positive = positive && contributor.Weight >= 0;
      }
      Divisions.emplace_back(total, positive);
    }
    First.push_back(Weights.size());
  }
};

// Loads row k of the source as single-precision samples, blue, green and red of each pixel,
// three to a pixel with one spare value at the end (see PixelAt). 24-bit rows are widened
// byte for byte in one loop the compiler vectorises; other formats are expanded a row at a
// time, exactly as converting the bitmap to 24 bits would.
void LoadRow(const TBitmap& source, int k, std::vector<TBGRA>& expanded, std::vector<float>& cache) {
  const std::size_t width = static_cast<std::size_t>(source.Width());
  float* out = cache.data();
  if (source.PixelFormat() == pd24Bit) {
    const std::uint8_t* row = source.ScanLine(k);
    for (std::size_t x = 0; x < 3 * width; ++x) out[x] = row[x];
    return;
  }
  source.UnpackScanLine(k, expanded.data());
  for (std::size_t x = 0; x < width; ++x, out += 3) {
    const auto pixel = static_cast<std::uint32_t>(expanded[x]);
    out[0] = static_cast<float>(pixel & 0xFF);
    out[1] = static_cast<float>(pixel >> 8 & 0xFF);
    out[2] = static_cast<float>(pixel >> 16 & 0xFF);
  }
}

// Source pixel `pixel` of a loaded row as lanes: blue, green, red and the next pixel's blue
// (or the spare value), which the sums carry along and never use.
inline TLanes PixelAt(const float* row, std::int32_t pixel) {
  TLanes lanes;
  std::memcpy(&lanes, row + 3 * static_cast<std::size_t>(pixel), sizeof lanes);
  return lanes;
}

// TChannelDivision::Quick on the first three lanes at once, as the bytes blue, green, red
// and a fourth byte of no meaning, in memory order. The sums are not negative here, so
// saturating to 0..255 is the same as capping at 255.
inline std::uint32_t QuickPixel(TLanes sum, float reciprocal) {
  const TLanes scaled = (sum + 0.5f) * reciprocal;
#if defined(__SSE2__)
  __m128i value = _mm_cvttps_epi32(scaled);
  value = _mm_packs_epi32(value, value);
  value = _mm_packus_epi16(value, value);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(value));
#else
  TIntegerLanes value = __builtin_convertvector(scaled, TIntegerLanes);
  value = value < 255 ? value : 255;
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value[0]), static_cast<std::uint8_t>(value[1]),
                                 static_cast<std::uint8_t>(value[2]), 0};
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
#endif
}

// The first pass: every target pixel of one row, weighed from the loaded source row.
void ResampleRow(const TPreparedList& prepared, const float* row, std::uint8_t* out) {
  const float* weights = prepared.Weights.data();
  const std::int32_t* pixels = prepared.Pixels.data();
  const std::size_t count = prepared.Divisions.size();
  for (std::size_t i = 0; i < count; ++i, out += 3) {
    // Two sums that do not wait for each other; adding in another order is exact for these
    // integers.
    TLanes even = {0, 0, 0, 0}, odd = {0, 0, 0, 0};
    std::size_t k = prepared.First[i];
    const std::size_t end = prepared.First[i + 1];
    for (; k + 1 < end; k += 2) {
      even += PixelAt(row, pixels[k]) * weights[k];
      odd += PixelAt(row, pixels[k + 1]) * weights[k + 1];
    }
    if (k < end) even += PixelAt(row, pixels[k]) * weights[k];
    const TLanes sum = even + odd;
    const TChannelDivision& division = prepared.Divisions[i];
    if (division.Reciprocal != 0) {
      const std::uint32_t pixel = QuickPixel(sum, division.Reciprocal);
      // Four bytes at once where the fourth belongs to the next pixel, which is written
      // next; the row's last pixel takes its three bytes alone.
      if (i + 1 < count) {
        std::memcpy(out, &pixel, sizeof pixel);
      } else {
        out[0] = static_cast<std::uint8_t>(pixel);
        out[1] = static_cast<std::uint8_t>(pixel >> 8);
        out[2] = static_cast<std::uint8_t>(pixel >> 16);
      }
    } else {
      out[0] = division.Exact(static_cast<std::int32_t>(sum[0]));
      out[1] = division.Exact(static_cast<std::int32_t>(sum[1]));
      out[2] = division.Exact(static_cast<std::int32_t>(sum[2]));
    }
  }
}

// The second pass for target row j: whole intermediate rows are weighed and added into
// `sums`, one lane per byte of the row (blue, green, red of every pixel alike), which keeps
// the loops simple enough for the compiler to vectorise.
void ResampleColumns(const TPreparedList& prepared, std::size_t j, const TBitmap& intermediate,
                     std::vector<float>& sums, std::uint8_t* out) {
  const std::size_t bytes = sums.size();
  std::fill(sums.begin(), sums.end(), 0.0f);
  float* sum = sums.data();
  for (std::size_t k = prepared.First[j]; k < prepared.First[j + 1]; ++k) {
    const std::uint8_t* in = intermediate.ScanLine(prepared.Pixels[k]);
    const float weight = prepared.Weights[k];
    for (std::size_t x = 0; x < bytes; ++x) sum[x] += static_cast<float>(in[x]) * weight;
  }
  const TChannelDivision division = prepared.Divisions[j];
  if (division.Reciprocal != 0) {
    for (std::size_t x = 0; x < bytes; ++x) out[x] = division.Quick(sum[x]);
  } else {
    for (std::size_t x = 0; x < bytes; ++x) out[x] = division.Exact(static_cast<std::int32_t>(sum[x]));
  }
}

// The weights of one dimension. Building them costs as much as a tenth of shrinking a small
// picture, and the pictures of one camera or one screen share their sizes, so the last few
// sets are kept for the thread that built them.
const TPreparedList& PreparedWeights(std::uint32_t sourceLength, std::uint32_t targetLength, float radius,
                                     TResampleFilter filter) {
  struct TKept {
    std::uint32_t SourceLength = 0, TargetLength = 0;
    float Radius = 0;
    TResampleFilter Filter = rfBox;
    std::unique_ptr<TPreparedList> Weights;
  };
  static thread_local std::array<TKept, 4> kept;
  static thread_local std::size_t next = 0;
  for (const TKept& entry : kept)
    if (entry.Weights && entry.SourceLength == sourceLength && entry.TargetLength == targetLength &&
        entry.Radius == radius && entry.Filter == filter)
      return *entry.Weights;
  TKept& entry = kept[next];
  next = (next + 1) % kept.size();
  entry.Weights.reset();
  entry.Weights = std::make_unique<TPreparedList>(
      BuildContributors(sourceLength, targetLength, ResampleScale(sourceLength, targetLength), radius, filter));
  entry.SourceLength = sourceLength;
  entry.TargetLength = targetLength;
  entry.Radius = radius;
  entry.Filter = filter;
  return *entry.Weights;
}

void RunPasses(const TBitmap& source, TBitmap& target, TResampleFilter filter, float radius) {
  const int sourceWidth = source.Width(), sourceHeight = source.Height();
  const int targetWidth = target.Width(), targetHeight = target.Height();
  const auto sw = static_cast<std::uint32_t>(sourceWidth), sh = static_cast<std::uint32_t>(sourceHeight);
  const auto tw = static_cast<std::uint32_t>(targetWidth), th = static_cast<std::uint32_t>(targetHeight);

  // Every row of the intermediate picture and of the target is written below.
  TBitmap intermediate;
  intermediate.SetPixelFormat(pd24Bit);
  intermediate.AllocateImage(targetWidth, sourceHeight);

  {
    const TPreparedList& horizontal = PreparedWeights(sw, tw, radius, filter);
    // Scratch of this call, and so of this thread only.
    std::vector<float> cache(3 * static_cast<std::size_t>(sourceWidth) + 1);
    std::vector<TBGRA> expanded(source.PixelFormat() == pd24Bit ? 0 : static_cast<std::size_t>(sourceWidth));
    for (int k = 0; k < sourceHeight; ++k) {
      LoadRow(source, k, expanded, cache);
      ResampleRow(horizontal, cache.data(), intermediate.ScanLine(k));
    }
  }

  const TPreparedList& vertical = PreparedWeights(sh, th, radius, filter);
  std::vector<float> sums(static_cast<std::size_t>(targetWidth) * 3);
  for (int j = 0; j < targetHeight; ++j)
    ResampleColumns(vertical, static_cast<std::size_t>(j), intermediate, sums, target.ScanLine(j));
}

}  // namespace

void Resample(std::uint32_t newWidth, std::uint32_t newHeight, TResampleFilter filter, float radius, TBitmap& bitmap) {
  if (!(radius > 0)) radius = DefaultFilterRadius(filter);
  TBitmap target;
  target.SetPixelFormat(pd24Bit);
  target.CheckImageSize(newWidth, newHeight);
  // The bitmap's own pixels are read in whatever format they have, a row at a time, so it
  // is never converted to 24 bits as a whole; the result replaces it anyway.
  if (!bitmap.Empty() && newWidth != 0 && newHeight != 0) {
    target.AllocateImage(static_cast<int>(newWidth), static_cast<int>(newHeight));
    RunPasses(bitmap, target, filter, radius);
  } else {
    target.SetSize(static_cast<int>(newWidth), static_cast<int>(newHeight));
  }
  bitmap.TakeImage(target);
}

}  // namespace driftpost
