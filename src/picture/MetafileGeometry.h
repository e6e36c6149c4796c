// Plane geometry for metafile playback, all in double precision: affine transforms, arcs and
// Bézier curves flattened into polylines with a bounded number of points, and clipping of
// polygons and polylines to a rectangle. The player turns every shape into device-space
// polylines with these before the rasteriser sees it, so no coordinate from a file ever
// reaches the rasteriser unclipped and no curve can ask for unbounded work.
#pragma once

#include <cstddef>
#include <vector>

namespace driftpost::metafile {

struct TPointD {
  double X = 0;
  double Y = 0;
};

// x' = A·x + C·y + E, y' = B·x + D·y + F (the layout of a Windows XFORM).
struct TMatrix {
  double A = 1, B = 0, C = 0, D = 1, E = 0, F = 0;

  TPointD Apply(TPointD p) const { return {A * p.X + C * p.Y + E, B * p.X + D * p.Y + F}; }
  // Only the linear part: for lengths and directions.
  TPointD ApplyLinear(TPointD p) const { return {A * p.X + C * p.Y, B * p.X + D * p.Y}; }
  double Determinant() const { return A * D - B * C; }
  // This transform followed by `next`.
  TMatrix Then(const TMatrix& next) const;
  // False when the inverse does not exist or is not finite.
  bool Invert(TMatrix& inverse) const;
  // Every coefficient finite and within ±limit.
  bool Sane(double limit) const;
  // How far a unit length along x and along y reaches after the transform.
  double ScaleX() const;
  double ScaleY() const;
};

struct TBoxD {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
};

// One open or closed polyline in device space.
struct TFigure {
  std::vector<TPointD> Points;
  bool Closed = false;
};
using TFigures = std::vector<TFigure>;

std::size_t PointCount(const TFigures& figures);
bool AllFinite(const TFigures& figures);
// The smallest box holding every point; an empty box for no points.
TBoxD BoundsOf(const TFigures& figures);

// Appends the points of an elliptic arc to `out`: the ellipse inscribed in `box` (logical
// space), from angle `start` through `sweep` radians (positive counter-clockwise in the
// box's own coordinates), each point transformed by `toDevice`. The number of points
// follows the arc's size on the device, at most MaxArcPoints for a whole ellipse.
constexpr int MaxArcPoints = 2048;
void AppendArc(std::vector<TPointD>& out, const TBoxD& box, double start, double sweep, const TMatrix& toDevice);

// Appends the points of a cubic Bézier curve (device space) after p0, which is already in
// `out`: at most MaxBezierPoints.
constexpr int MaxBezierPoints = 256;
void AppendBezier(std::vector<TPointD>& out, TPointD p0, TPointD p1, TPointD p2, TPointD p3);

// The part of a closed polygon inside `box` (Sutherland-Hodgman). Inside the box every
// point keeps its winding number, so fills look the same there under either fill rule.
std::vector<TPointD> ClipPolygon(const std::vector<TPointD>& polygon, const TBoxD& box);

// The parts of a polyline inside `box`, each with the length of the polyline before it (so
// a dash pattern can continue where it was).
struct TClippedRun {
  std::vector<TPointD> Points;
  double StartLength = 0;
};
std::vector<TClippedRun> ClipPolyline(const std::vector<TPointD>& polyline, const TBoxD& box);

// What a scan converter spends on these polylines (closed or not) within `box`, summed over
// the pixel rows: the edges crossing each row, and that number squared, which is what an
// anti-aliasing converter may spend when the edges cross one another. `widen` stretches
// each edge up and down (a stroke's outline). Rows are counted in at most a few thousand
// bands, so the estimate costs little more than a pass over the points.
struct TScanCost {
  double Crossings = 0;
  double Pairs = 0;
};
TScanCost ScanCost(const TFigures& figures, bool closed, const TBoxD& box, double widen);

}  // namespace driftpost::metafile
