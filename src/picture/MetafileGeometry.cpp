#include "picture/MetafileGeometry.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <numbers>

namespace driftpost::metafile {

TMatrix TMatrix::Then(const TMatrix& n) const {
  return {n.A * A + n.C * B,     n.B * A + n.D * B,     n.A * C + n.C * D,
          n.B * C + n.D * D,     n.A * E + n.C * F + n.E, n.B * E + n.D * F + n.F};
}

bool TMatrix::Invert(TMatrix& inverse) const {
  const double det = Determinant();
  if (!std::isfinite(det) || std::abs(det) < 1e-12) return false;
  inverse = {D / det, -B / det, -C / det, A / det, (C * F - D * E) / det, (B * E - A * F) / det};
  return inverse.Sane(1e15);
}

bool TMatrix::Sane(double limit) const {
  for (double v : {A, B, C, D, E, F})
    if (!std::isfinite(v) || std::abs(v) > limit) return false;
  return true;
}

double TMatrix::ScaleX() const { return std::hypot(A, B); }
double TMatrix::ScaleY() const { return std::hypot(C, D); }

std::size_t PointCount(const TFigures& figures) {
  std::size_t count = 0;
  for (const TFigure& figure : figures) count += figure.Points.size();
  return count;
}

bool AllFinite(const TFigures& figures) {
  for (const TFigure& figure : figures)
    for (const TPointD& p : figure.Points)
      if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return false;
  return true;
}

TBoxD BoundsOf(const TFigures& figures) {
  TBoxD box{INFINITY, INFINITY, -INFINITY, -INFINITY};
  for (const TFigure& figure : figures)
    for (const TPointD& p : figure.Points) {
      box.Left = std::min(box.Left, p.X);
      box.Top = std::min(box.Top, p.Y);
      box.Right = std::max(box.Right, p.X);
      box.Bottom = std::max(box.Bottom, p.Y);
    }
  if (box.Left > box.Right) return TBoxD{};
  return box;
}

void AppendArc(std::vector<TPointD>& out, const TBoxD& box, double start, double sweep, const TMatrix& toDevice) {
  const double cx = (box.Left + box.Right) / 2, cy = (box.Top + box.Bottom) / 2;
  const double rx = std::abs(box.Width()) / 2, ry = std::abs(box.Height()) / 2;
  // Enough points that a chord strays at most about a tenth of a pixel from the curve.
  const double radius = std::max(rx * toDevice.ScaleX(), ry * toDevice.ScaleY());
  const double full = std::clamp(std::ceil(std::numbers::pi * std::sqrt(std::min(radius, 1e9) / 0.2)), 8.0,
                                 static_cast<double>(MaxArcPoints));
  const double fraction = std::min(std::abs(sweep) / (2 * std::numbers::pi), 1.0);
  const int steps = std::max(1, static_cast<int>(std::ceil(full * fraction)));
  for (int i = 0; i <= steps; ++i) {
    const double angle = start + sweep * i / steps;
    out.push_back(toDevice.Apply({cx + rx * std::cos(angle), cy + ry * std::sin(angle)}));
  }
}

void AppendBezier(std::vector<TPointD>& out, TPointD p0, TPointD p1, TPointD p2, TPointD p3) {
  // The second differences bound how far the curve bends away from its chords.
  const double ddx = std::max(std::abs(p0.X - 2 * p1.X + p2.X), std::abs(p1.X - 2 * p2.X + p3.X));
  const double ddy = std::max(std::abs(p0.Y - 2 * p1.Y + p2.Y), std::abs(p1.Y - 2 * p2.Y + p3.Y));
  const double bend = std::hypot(ddx, ddy);
  double steps = std::ceil(std::sqrt(0.75 * std::min(bend, 1e9) / 0.1));
  if (!std::isfinite(steps)) steps = 1;
  const int count = static_cast<int>(std::clamp(steps, 1.0, static_cast<double>(MaxBezierPoints)));
  for (int i = 1; i <= count; ++i) {
    const double t = static_cast<double>(i) / count, u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    out.push_back({a * p0.X + b * p1.X + c * p2.X + d * p3.X, a * p0.Y + b * p1.Y + c * p2.Y + d * p3.Y});
  }
}

namespace {

// One side of the clip box: which points it keeps and where an edge crosses it.
struct TEdge {
  int Axis;      // 0: x, 1: y
  double Limit;  // the side's coordinate
  bool KeepBelow;

  double Of(TPointD p) const { return Axis == 0 ? p.X : p.Y; }
  bool Inside(TPointD p) const { return KeepBelow ? Of(p) <= Limit : Of(p) >= Limit; }
  TPointD Cross(TPointD a, TPointD b) const {
    const double t = (Limit - Of(a)) / (Of(b) - Of(a));
    TPointD p{a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t};
    (Axis == 0 ? p.X : p.Y) = Limit;  // exactly on the side, whatever the rounding
    return p;
  }
};

}  // namespace

std::vector<TPointD> ClipPolygon(const std::vector<TPointD>& polygon, const TBoxD& box) {
  const TEdge edges[] = {{0, box.Left, false}, {0, box.Right, true}, {1, box.Top, false}, {1, box.Bottom, true}};
  std::vector<TPointD> current = polygon, next;
  for (const TEdge& edge : edges) {
    if (current.empty()) break;
    next.clear();
    TPointD previous = current.back();
    bool previousInside = edge.Inside(previous);
    for (const TPointD& point : current) {
      const bool inside = edge.Inside(point);
      if (inside != previousInside) next.push_back(edge.Cross(previous, point));
      if (inside) next.push_back(point);
      previous = point;
      previousInside = inside;
    }
    current.swap(next);
  }
  return current;
}

std::vector<TClippedRun> ClipPolyline(const std::vector<TPointD>& polyline, const TBoxD& box) {
  std::vector<TClippedRun> runs;
  double travelled = 0;
  bool open = false;  // the last run still continues
  for (std::size_t i = 1; i < polyline.size(); ++i) {
    const TPointD a = polyline[i - 1], b = polyline[i];
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double length = std::hypot(dx, dy);
    // Liang-Barsky: the part t0..t1 of the segment that lies in the box.
    double t0 = 0, t1 = 1;
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {a.X - box.Left, box.Right - a.X, a.Y - box.Top, box.Bottom - a.Y};
    bool visible = true;
    for (int k = 0; k < 4 && visible; ++k) {
      if (p[k] == 0) {
        if (q[k] < 0) visible = false;
      } else {
        const double t = q[k] / p[k];
        if (p[k] < 0)
          t0 = std::max(t0, t);
        else
          t1 = std::min(t1, t);
        if (t0 > t1) visible = false;
      }
    }
    if (!visible) {
      open = false;
    } else {
      const TPointD from{a.X + dx * t0, a.Y + dy * t0}, to{a.X + dx * t1, a.Y + dy * t1};
      if (!open || t0 > 0) {
        runs.push_back(TClippedRun{{from}, travelled + length * t0});
      }
      runs.back().Points.push_back(to);
      open = t1 >= 1;
    }
    travelled += length;
  }
  return runs;
}

TScanCost ScanCost(const TFigures& figures, bool closed, const TBoxD& box, double widen) {
  constexpr int MaxBands = 4096;
  const double height = box.Height();
  if (!(height > 0)) return {};
  const int bands = static_cast<int>(std::clamp(std::ceil(height), 1.0, double(MaxBands)));
  const double bandHeight = height / bands;
  std::vector<std::int64_t> changes(static_cast<std::size_t>(bands) + 1, 0);
  for (const TFigure& figure : figures) {
    const std::vector<TPointD>& points = figure.Points;
    const std::size_t n = points.size();
    for (std::size_t i = closed ? 0 : 1; i < n; ++i) {
      const TPointD a = points[i == 0 ? n - 1 : i - 1], b = points[i];
      const double top = std::max(std::min(a.Y, b.Y) - widen, box.Top);
      const double bottom = std::min(std::max(a.Y, b.Y) + widen, box.Bottom);
      if (!(bottom >= top)) continue;
      const auto first = static_cast<std::size_t>(std::clamp((top - box.Top) / bandHeight, 0.0, bands - 1.0));
      const auto last = static_cast<std::size_t>(std::clamp((bottom - box.Top) / bandHeight, 0.0, bands - 1.0));
      ++changes[first];
      --changes[last + 1];
    }
  }
  TScanCost cost;
  std::int64_t crossing = 0;
  for (int band = 0; band < bands; ++band) {
    crossing += changes[static_cast<std::size_t>(band)];
    const double edges = static_cast<double>(crossing);
    cost.Crossings += edges * bandHeight;
    cost.Pairs += edges * edges * bandHeight;
  }
  return cost;
}

}  // namespace driftpost::metafile
