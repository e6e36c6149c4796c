// Resample: changes the size of a bitmap in place with a separable filter, first every row
// to the new width, then every column to the new height. Filter values are computed once per
// target column and row as integer weights (filter value × 256, rounded half to even); the
// inner loops are integer multiply-adds with one division per channel. The result always has
// 24 bits per pixel.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace driftpost {

class TBitmap;

enum TResampleFilter : std::uint8_t {
  rfBox = 0,
  rfTriangle = 1,
  rfHermite = 2,
  rfBell = 3,
  rfSpline = 4,
  rfLanczos3 = 5,
  rfMitchell = 6,
};

// The filter's value at x, in single precision.
float FilterValue(TResampleFilter filter, float x);
// The filter's own support: beyond it every filter is 0.
float DefaultFilterRadius(TResampleFilter filter);

struct TContributor {
  std::int32_t Weight;  // filter value × 256, rounded
  std::int32_t Pixel;   // source index, mirrored at the edges
};
using TContributors = std::vector<TContributor>;

struct TContributorEntry {
  std::int32_t Count = 0;  // contributors in use
  // Its size is the capacity, 2 × support + 1. A radius that cuts a filter short can meet one
  // more pixel of non-zero weight at each end than that; the list then grows instead of
  // being written past its end.
  TContributors Contributors;
};
using TContributorList = std::vector<TContributorEntry>;

// The scale factor of one dimension: target / source when either is 1, else
// (target - 1) / (source - 1), so the first and last pixels map onto each other.
float ResampleScale(std::uint32_t sourceLength, std::uint32_t targetLength);

// The weights of every target pixel of one dimension. Indices that a wide filter sends past
// an edge are reflected there once and clamped if still outside. A radius beyond the
// filter's own support adds only zero weights, so the loop stops at that support.
TContributorList BuildContributors(std::uint32_t sourceLength, std::uint32_t targetLength, float scale,
                                   float radius, TResampleFilter filter);

// How the weighed sums of one target pixel become channel bytes: each is divided by the
// pixel's total of weights, the quotient truncated towards zero; with no total, the sum is
// shifted right by 8 bits as an unsigned 32-bit value (so a negative sum saturates to 255).
// The result is clamped to 0..255.
//
// Where every weight of the pixel is positive or zero and the total lies in
// 1..QuickTotalLimit, the division can be a multiplication with the total's reciprocal in
// single precision, since the sums of such a pixel are never negative and at most
// 255 × total < 2^23: (sum + 0.5) / total lies at least 0.5 / total ≥ 2^-14 away from every
// integer, while the product's error stays below 256 × 2^-23 = 2^-15 as long as the quotient
// is below 256 (above, both ways clamp to 255), so its truncation is exactly the integer
// quotient. The triangle filter always takes that way.
struct TChannelDivision {
  static constexpr std::int32_t QuickTotalLimit = 8192;

  std::int32_t Total = 0;
  float Reciprocal = 0;  // 1 / Total where the quick way is exact, else 0

  TChannelDivision(std::int32_t total, bool weightsPositive)
      : Total(total),
        Reciprocal(weightsPositive && total > 0 && total <= QuickTotalLimit ? 1.0f / static_cast<float>(total) : 0.0f) {}

  std::uint8_t Exact(std::int32_t sum) const {
    const std::int64_t value = Total != 0 ? sum / Total : static_cast<std::int64_t>(static_cast<std::uint32_t>(sum) >> 8);
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(value, 0, 255));
  }
  // Only where Reciprocal is not 0.
  std::uint8_t Quick(float sum) const {
    const auto value = static_cast<std::int32_t>((sum + 0.5f) * Reciprocal);
    return static_cast<std::uint8_t>(value < 255 ? value : 255);
  }
};

// Resamples `bitmap` to the new size. A radius of 0 (or one that is negative or not a number)
// takes the filter's default radius. A source without pixels gives a white picture of the new
// size; a new size of 0 gives an empty bitmap. Raises EInvalidGraphic beyond the picture
// limits.
void Resample(std::uint32_t newWidth, std::uint32_t newHeight, TResampleFilter filter, float radius, TBitmap& bitmap);

}  // namespace driftpost
