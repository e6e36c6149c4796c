// Fitting a loaded picture into a square, as picture requests that ask for a small picture
// do: the fitted size, and the resampling of the picture to it with the least work and
// memory on the way.
#pragma once

#include <cstdint>

namespace driftpost {

class TBitmap;
class TPicture;

struct TPictureSize {
  std::uint32_t Width;
  std::uint32_t Height;
};

// The size of a width × height picture scaled to fit `side` × `side` with its proportions
// kept: the longer side becomes `side` (the height when both are equal), the other one is
// rounded to the nearest pixel, a half to the even neighbour. The division runs in extended
// precision, which holds the quotient of these integers closely enough to tell every true
// half.
TPictureSize FitIntoSquare(std::int64_t width, std::int64_t height, std::int64_t side);

// Replaces the picture's graphic by its drawing on a fresh white 24-bit bitmap of its own
// size, and returns that bitmap (the picture's own).
TBitmap& DrawOnWhite(TPicture& picture);

// Resamples the picture to `size` with the triangle filter and its default radius; the
// picture then holds a 24-bit bitmap of that size. Its pixels are made at the least cost on
// the way: a JPEG picture is decoded at the smallest scale that still gives the size,
// straight into the bitmap's rows; a bitmap is resampled as it is (resampling reads any
// pixel format a row at a time exactly as drawing it on a white 24-bit bitmap would); anything
// else (an icon, a metafile, a bitmap with a transparent colour) is drawn on a white 24-bit
// bitmap of its own size first. Raises the picture's own errors.
void ResamplePicture(TPicture& picture, TPictureSize size);

}  // namespace driftpost
