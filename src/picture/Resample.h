// Resample: changes the size of a bitmap in place with a separable filter, first every row
// to the new width, then every column to the new height. Filter values are computed once per
// target column and row as integer weights (filter value × 256, rounded half to even); the
// inner loops are integer multiply-adds with one division per channel. The result always has
// 24 bits per pixel.
#pragma once

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

// Resamples `bitmap` to the new size. A radius of 0 (or one that is negative or not a number)
// takes the filter's default radius. A source without pixels gives a white picture of the new
// size; a new size of 0 gives an empty bitmap. Raises EInvalidGraphic beyond the picture
// limits.
void Resample(std::uint32_t newWidth, std::uint32_t newHeight, TResampleFilter filter, float radius, TBitmap& bitmap);

}  // namespace driftpost
