#include "picture/MetafileCanvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "picture/Bitmap.h"
#include "picture/MetafileDib.h"

namespace driftpost::metafile {

namespace {

// Bounds on what a file can make the canvas keep.
constexpr std::size_t MaxSavedStates = 1024;
constexpr std::size_t MaxClipParts = 32;
constexpr std::size_t MaxPathPoints = std::size_t{1} << 20;
constexpr std::size_t MaxRegionRectangles = 4096;
constexpr std::size_t MaxClipPoints = std::size_t{1} << 16;
// Coordinates beyond this (in pixels) mean a mapping gone wrong; such shapes are dropped.
constexpr double FarAway = 1e12;
// Pattern brushes larger than this are painted in a plain colour instead.
constexpr std::size_t MaxPatternPixels = std::size_t{1} << 16;
constexpr TColor PatternStandIn = 0x808080;

// Binary raster operations of pens and brushes.
constexpr int R2Black = 1, R2Not = 6, R2XorPen = 7, R2MaskPen = 9, R2NoOp = 11, R2CopyPen = 13, R2MergePen = 15,
              R2White = 16;

void SetColor(cairo_t* cr, TColor color) {
  cairo_set_source_rgb(cr, RedOf(color) / 255.0, GreenOf(color) / 255.0, BlueOf(color) / 255.0);
}

TBoxD Normalized(const TBoxD& box) {
  return {std::min(box.Left, box.Right), std::min(box.Top, box.Bottom), std::max(box.Left, box.Right),
          std::max(box.Top, box.Bottom)};
}

bool Reasonable(const TFigures& figures) {
  for (const TFigure& figure : figures)
    for (const TPointD& p : figure.Points)
      if (!(std::abs(p.X) < FarAway && std::abs(p.Y) < FarAway)) return false;
  return true;
}

void AddPolygonPath(cairo_t* cr, const std::vector<TPointD>& points) {
  if (points.empty()) return;
  cairo_move_to(cr, points[0].X, points[0].Y);
  for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr, points[i].X, points[i].Y);
  cairo_close_path(cr);
}

double PolylineLength(const std::vector<TPointD>& points) {
  double length = 0;
  for (std::size_t i = 1; i < points.size(); ++i)
    length += std::hypot(points[i].X - points[i - 1].X, points[i].Y - points[i - 1].Y);
  return length;
}

// The 8 by 8 hatch of a hatched brush: whether pixel (x, y) is on a line.
bool HatchPixel(int hatch, int x, int y) {
  switch (hatch) {
    case 0: return y == 7;                          // horizontal
    case 1: return x == 7;                          // vertical
    case 2: return x == y;                          // forward diagonal, top left to bottom right
    case 3: return x == 7 - y;                      // backward diagonal
    case 4: return x == 7 || y == 7;                // cross
    default: return x == y || x == 7 - y;           // diagonal cross
  }
}

}  // namespace

TMetafileCanvas::TMetafileCanvas(cairo_t* cr, const TMatrix& toTile, const TBoxD& clip, TWorkBudget& budget,
                                 std::size_t maxObjects)
    : cr_(cr), toTile_(toTile), clip_(clip), budget_(budget), maxObjects_(maxObjects) {
  cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
  cairo_set_tolerance(cr_, 0.1);
}

TMetafileCanvas::~TMetafileCanvas() {
  if (patternSurface_) cairo_surface_destroy(patternSurface_);
}

void TMetafileCanvas::SetFixedViewport(const TBoxD& viewport) { fixedViewport_ = viewport; }

void TMetafileCanvas::SetDeviceResolution(double pixelsPerMillimetreX, double pixelsPerMillimetreY) {
  if (std::isfinite(pixelsPerMillimetreX) && pixelsPerMillimetreX > 0) pixelsPerMillimetre_.X = pixelsPerMillimetreX;
  if (std::isfinite(pixelsPerMillimetreY) && pixelsPerMillimetreY > 0) pixelsPerMillimetre_.Y = pixelsPerMillimetreY;
}

TGdiObject FontObject(double height, double escapement, int weight, bool italic, bool underline, bool strikeOut) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Font;
  object.Font = TFont{height, escapement, weight, italic, underline, strikeOut};
  return object;
}

TGdiObject BrushObject(std::uint32_t style, TColor color, int hatch) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Brush;
  // Patterns whose bitmap the record does not carry are stood in for.
  object.Brush.Style = style == 0   ? TBrushStyle::Solid
                       : style == 1 ? TBrushStyle::Null
                       : style == 2 ? TBrushStyle::Hatched
                                    : TBrushStyle::Pattern;
  object.Brush.Color = color;
  object.Brush.Hatch = hatch;
  return object;
}

// ---- State -------------------------------------------------------------------------------

void TMetafileCanvas::SaveDC() {
  budget_.Spend(1);
  if (saved_.size() < MaxSavedStates) saved_.push_back(state_);
}

void TMetafileCanvas::RestoreDC(int which) {
  const long long depth = static_cast<long long>(saved_.size());
  // The state to return to, counted from the bottom of the stack (0 is the first saved).
  const long long target = which < 0 ? depth + which : static_cast<long long>(which) - 1;
  if (target < 0 || target >= depth) return;
  state_ = std::move(saved_[static_cast<std::size_t>(target)]);
  saved_.resize(static_cast<std::size_t>(target));
  clipApplied_ = false;
}

void TMetafileCanvas::SetMapMode(int mode) {
  if (mode >= mmText && mode <= mmAnisotropic) state_.MapMode = mode;
}

void TMetafileCanvas::SetWindowOrg(TPointD origin) { state_.WindowOrg = origin; }
void TMetafileCanvas::SetViewportOrg(TPointD origin) { state_.ViewportOrg = origin; }
void TMetafileCanvas::OffsetWindowOrg(TPointD delta) {
  state_.WindowOrg = {state_.WindowOrg.X + delta.X, state_.WindowOrg.Y + delta.Y};
}
void TMetafileCanvas::OffsetViewportOrg(TPointD delta) {
  state_.ViewportOrg = {state_.ViewportOrg.X + delta.X, state_.ViewportOrg.Y + delta.Y};
}

// An extent of 0 in either direction is refused, as Windows refuses it.
void TMetafileCanvas::SetWindowExt(TPointD extent) {
  if (extent.X != 0 && extent.Y != 0) state_.WindowExt = extent;
}
void TMetafileCanvas::SetViewportExt(TPointD extent) {
  if (extent.X != 0 && extent.Y != 0) state_.ViewportExt = extent;
}
void TMetafileCanvas::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
  if (xDenom != 0 && yDenom != 0) SetWindowExt({state_.WindowExt.X * xNum / xDenom, state_.WindowExt.Y * yNum / yDenom});
}
void TMetafileCanvas::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
  if (xDenom != 0 && yDenom != 0)
    SetViewportExt({state_.ViewportExt.X * xNum / xDenom, state_.ViewportExt.Y * yNum / yDenom});
}

void TMetafileCanvas::SetWorldTransform(const TMatrix& world) {
  if (world.Sane(1e9) && std::abs(world.Determinant()) > 1e-12) state_.World = world;
}

void TMetafileCanvas::ModifyWorldTransform(const TMatrix& matrix, int mode) {
  switch (mode) {
    case 1: state_.World = TMatrix{}; break;
    case 2: SetWorldTransform(matrix.Then(state_.World)); break;
    case 3: SetWorldTransform(state_.World.Then(matrix)); break;
    case 4: SetWorldTransform(matrix); break;
    default: break;
  }
}

void TMetafileCanvas::SetMiterLimit(double limit) {
  if (std::isfinite(limit) && limit >= 1) state_.MiterLimit = std::min(limit, 100.0);
}

void TMetafileCanvas::MoveTo(TPointD point) {
  state_.Position = point;
  figureOpen_ = false;
}

TMatrix TMetafileCanvas::LogicalToTile() const {
  const TState& s = state_;
  double sx = 1, sy = 1;
  TPointD viewportOrg = s.ViewportOrg;
  const int mode = s.MapMode;
  if (fixedViewport_) {
    // The window is stretched over the picture, keeping its proportions when isotropic.
    sx = fixedViewport_->Width() / s.WindowExt.X;
    sy = fixedViewport_->Height() / s.WindowExt.Y;
    viewportOrg = {fixedViewport_->Left, fixedViewport_->Top};
  } else if (mode == mmAnisotropic || mode == mmIsotropic) {
    sx = s.ViewportExt.X / s.WindowExt.X;
    sy = s.ViewportExt.Y / s.WindowExt.Y;
  } else if (mode != mmText) {
    // Fixed units, y growing upwards.
    const double millimetres = mode == mmLoMetric    ? 0.1
                               : mode == mmHiMetric  ? 0.01
                               : mode == mmLoEnglish ? 0.254
                               : mode == mmHiEnglish ? 0.0254
                                                     : 25.4 / 1440;
    sx = millimetres * pixelsPerMillimetre_.X;
    sy = -millimetres * pixelsPerMillimetre_.Y;
  }
  if (mode == mmIsotropic) {
    const double s = std::min(std::abs(sx), std::abs(sy));
    sx = std::copysign(s, sx);
    sy = std::copysign(s, sy);
  }
  const TMatrix page{sx, 0, 0, sy, viewportOrg.X - s.WindowOrg.X * sx, viewportOrg.Y - s.WindowOrg.Y * sy};
  return s.World.Then(page).Then(toTile_);
}

// ---- Objects ------------------------------------------------------------------------------

void TMetafileCanvas::CreateObjectAtFreeSlot(const TGdiObject& object) {
  budget_.Spend(1);
  std::uint32_t slot;
  if (!freeSlots_.empty()) {
    slot = *freeSlots_.begin();
    freeSlots_.erase(freeSlots_.begin());
  } else {
    if (highWater_ >= maxObjects_) return;
    slot = highWater_++;
  }
  objects_[slot] = object;
}

void TMetafileCanvas::CreateObjectAt(std::uint32_t index, const TGdiObject& object) {
  budget_.Spend(1);
  if (index == 0 || index >= maxObjects_) return;
  objects_[index] = object;
}

const TGdiObject* TMetafileCanvas::ObjectAt(std::uint32_t index) const {
  const auto found = objects_.find(index);
  return found == objects_.end() ? nullptr : &found->second;
}

void TMetafileCanvas::SelectObject(std::uint32_t index) {
  const TGdiObject* object = ObjectAt(index);
  if (!object) return;
  switch (object->Kind) {
    case TGdiObject::TKind::Pen: state_.Pen = object->Pen; break;
    case TGdiObject::TKind::Brush: state_.Brush = object->Brush; break;
    case TGdiObject::TKind::Font: state_.Font = object->Font; break;
    case TGdiObject::TKind::Other: break;
  }
}

void TMetafileCanvas::DeleteObject(std::uint32_t index) {
  if (objects_.erase(index) && index < highWater_) freeSlots_.insert(index);
}

TBrush TMetafileCanvas::StockBrush(std::uint32_t stock) {
  const TColor greys[] = {clWhite, 0xC0C0C0, 0x808080, 0x404040, clBlack};
  if (stock <= 4) return TBrush{TBrushStyle::Solid, greys[stock], 0, {}};
  if (stock == 5) return TBrush{TBrushStyle::Null, clWhite, 0, {}};
  return TBrush{};
}

void TMetafileCanvas::SelectStockObject(std::uint32_t stock) {
  if (stock <= 5) {
    state_.Brush = StockBrush(stock);
  } else if (stock == 6 || stock == 7) {
    state_.Pen = TPen{};
    state_.Pen.Color = stock == 6 ? clWhite : clBlack;
  } else if (stock == 8) {
    state_.Pen = TPen{};
    state_.Pen.Style = psNull;
  } else if (stock >= 10 && stock <= 17) {
    state_.Font = TFont{};
  } else if (stock == 18) {
    state_.Brush = TBrush{};
  } else if (stock == 19) {
    state_.Pen = TPen{};
  }
}

// ---- Shapes -------------------------------------------------------------------------------

TFigure TMetafileCanvas::Transformed(const std::vector<TPointD>& points, bool closed) const {
  const TMatrix m = LogicalToTile();
  TFigure figure;
  figure.Closed = closed;
  figure.Points.reserve(points.size());
  for (const TPointD& p : points) figure.Points.push_back(m.Apply(p));
  return figure;
}

TFigures TMetafileCanvas::RectangleFigures(const TBoxD& box) const {
  const TBoxD b = Normalized(box);
  return {Transformed({{b.Left, b.Top}, {b.Right, b.Top}, {b.Right, b.Bottom}, {b.Left, b.Bottom}}, true)};
}

void TMetafileCanvas::Emit(TFigures figures, bool fill, bool stroke) {
  budget_.Spend(static_cast<double>(PointCount(figures)));
  if (!AllFinite(figures) || !Reasonable(figures)) return;
  if (inPath_) {
    for (TFigure& figure : figures) {
      if (PointCount(path_) + figure.Points.size() > MaxPathPoints) break;
      path_.push_back(std::move(figure));
    }
    figureOpen_ = false;
    return;
  }
  if (fill) Fill(figures, state_.Brush, state_.Winding, state_.Rop2);
  if (stroke) Stroke(figures, state_.Pen);
}

// Lines that continue from the current position: in a path they extend the figure that is
// being drawn; outside one they are stroked at once.
void TMetafileCanvas::EmitConnected(const std::vector<TPointD>& tilePoints) {
  budget_.Spend(static_cast<double>(tilePoints.size()));
  if (inPath_) {
    if (!figureOpen_ || path_.empty()) {
      path_.push_back(TFigure{{ToTile(state_.Position)}, false});
      figureOpen_ = true;
    }
    std::vector<TPointD>& points = path_.back().Points;
    if (PointCount(path_) + tilePoints.size() <= MaxPathPoints)
      points.insert(points.end(), tilePoints.begin(), tilePoints.end());
    return;
  }
  TFigures figures{TFigure{{ToTile(state_.Position)}, false}};
  figures[0].Points.insert(figures[0].Points.end(), tilePoints.begin(), tilePoints.end());
  if (AllFinite(figures) && Reasonable(figures)) Stroke(figures, state_.Pen);
}

void TMetafileCanvas::LineTo(TPointD point) {
  EmitConnected({ToTile(point)});
  state_.Position = point;
}

void TMetafileCanvas::Polyline(const std::vector<TPointD>& points) {
  if (points.size() >= 2) Emit({Transformed(points, false)}, false, true);
}

void TMetafileCanvas::PolylineTo(const std::vector<TPointD>& points) {
  if (points.empty()) return;
  EmitConnected(Transformed(points, false).Points);
  state_.Position = points.back();
}

void TMetafileCanvas::Polygon(const std::vector<TPointD>& points) {
  if (points.size() >= 2) Emit({Transformed(points, true)}, true, true);
}

void TMetafileCanvas::PolyPolygon(const std::vector<std::vector<TPointD>>& polygons) {
  TFigures figures;
  for (const auto& polygon : polygons)
    if (polygon.size() >= 2) figures.push_back(Transformed(polygon, true));
  Emit(std::move(figures), true, true);
}

void TMetafileCanvas::PolyPolyline(const std::vector<std::vector<TPointD>>& polylines) {
  TFigures figures;
  for (const auto& polyline : polylines)
    if (polyline.size() >= 2) figures.push_back(Transformed(polyline, false));
  Emit(std::move(figures), false, true);
}

namespace {

// Flattens Bézier segments given in tile space: the start, then control, control, end for
// each segment; a trailing incomplete segment is left out.
std::vector<TPointD> FlattenBeziers(TPointD start, const std::vector<TPointD>& rest) {
  std::vector<TPointD> out;
  TPointD from = start;
  for (std::size_t i = 0; i + 3 <= rest.size(); i += 3) {
    AppendBezier(out, from, rest[i], rest[i + 1], rest[i + 2]);
    from = rest[i + 2];
  }
  return out;
}

}  // namespace

void TMetafileCanvas::PolyBezier(const std::vector<TPointD>& points) {
  if (points.size() < 4) return;
  const TFigure device = Transformed(points, false);
  budget_.Spend(static_cast<double>(points.size()) * MaxBezierPoints / 8);
  TFigure figure{{device.Points[0]}, false};
  const std::vector<TPointD> rest(device.Points.begin() + 1, device.Points.end());
  const std::vector<TPointD> flat = FlattenBeziers(device.Points[0], rest);
  figure.Points.insert(figure.Points.end(), flat.begin(), flat.end());
  Emit({std::move(figure)}, false, true);
}

void TMetafileCanvas::PolyBezierTo(const std::vector<TPointD>& points) {
  if (points.size() < 3) return;
  budget_.Spend(static_cast<double>(points.size()) * MaxBezierPoints / 8);
  EmitConnected(FlattenBeziers(ToTile(state_.Position), Transformed(points, false).Points));
  state_.Position = points[points.size() / 3 * 3 - 1];
}

void TMetafileCanvas::Rectangle(const TBoxD& box) { Emit(RectangleFigures(box), true, true); }

void TMetafileCanvas::RoundRect(const TBoxD& box, TPointD corner) {
  const TBoxD b = Normalized(box);
  const double rx = std::min(std::abs(corner.X) / 2, b.Width() / 2), ry = std::min(std::abs(corner.Y) / 2, b.Height() / 2);
  if (rx <= 0 || ry <= 0) return Rectangle(box);
  const TMatrix m = LogicalToTile();
  const double pi = std::numbers::pi;
  TFigure figure;
  figure.Closed = true;
  // Corner ellipses, clockwise on the page from the top left corner.
  AppendArc(figure.Points, {b.Left, b.Top, b.Left + 2 * rx, b.Top + 2 * ry}, pi, pi / 2, m);
  AppendArc(figure.Points, {b.Right - 2 * rx, b.Top, b.Right, b.Top + 2 * ry}, 1.5 * pi, pi / 2, m);
  AppendArc(figure.Points, {b.Right - 2 * rx, b.Bottom - 2 * ry, b.Right, b.Bottom}, 0, pi / 2, m);
  AppendArc(figure.Points, {b.Left, b.Bottom - 2 * ry, b.Left + 2 * rx, b.Bottom}, pi / 2, pi / 2, m);
  Emit({std::move(figure)}, true, true);
}

void TMetafileCanvas::Ellipse(const TBoxD& box) {
  TFigure figure;
  figure.Closed = true;
  AppendArc(figure.Points, Normalized(box), 0, 2 * std::numbers::pi, LogicalToTile());
  Emit({std::move(figure)}, true, true);
}

void TMetafileCanvas::Arc(TArcKind kind, const TBoxD& box, TPointD start, TPointD end) {
  const TBoxD b = Normalized(box);
  const double cx = (b.Left + b.Right) / 2, cy = (b.Top + b.Bottom) / 2;
  const double rx = b.Width() / 2, ry = b.Height() / 2;
  if (!(rx > 0 && ry > 0)) return;
  // Angles on the ellipse's own circle, where the radials through the points cross it.
  const double from = std::atan2((start.Y - cy) * rx, (start.X - cx) * ry);
  const double to = std::atan2((end.Y - cy) * rx, (end.X - cx) * ry);
  // Arcs run counter-clockwise as the picture shows them (or clockwise when asked): against
  // the growing angle unless the mapping mirrors the page.
  const TMatrix m = LogicalToTile();
  const bool growing = (m.Determinant() < 0) != state_.Clockwise;
  const double turn = 2 * std::numbers::pi;
  double sweep = growing ? std::fmod(to - from + 2 * turn, turn) : -std::fmod(from - to + 2 * turn, turn);
  if (sweep == 0) sweep = growing ? turn : -turn;  // the same radial: the whole ellipse

  TFigure figure;
  if (kind == TArcKind::Pie) figure.Points.push_back(m.Apply({cx, cy}));
  AppendArc(figure.Points, b, from, sweep, m);
  if (kind == TArcKind::ArcTo) {
    EmitConnected(figure.Points);
    state_.Position = {cx + rx * std::cos(from + sweep), cy + ry * std::sin(from + sweep)};
    return;
  }
  const bool closed = kind != TArcKind::Arc;
  figure.Closed = closed;
  Emit({std::move(figure)}, closed, true);
}

void TMetafileCanvas::AngleArc(TPointD center, double radius, double startDegrees, double sweepDegrees) {
  if (!std::isfinite(radius) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) return;
  radius = std::abs(radius);
  const double start = -startDegrees * std::numbers::pi / 180;
  const double sweep = -std::clamp(sweepDegrees, -360.0, 360.0) * std::numbers::pi / 180;
  std::vector<TPointD> points;
  AppendArc(points, {center.X - radius, center.Y - radius, center.X + radius, center.Y + radius}, start, sweep,
            LogicalToTile());
  EmitConnected(points);
  state_.Position = {center.X + radius * std::cos(start + sweep), center.Y + radius * std::sin(start + sweep)};
}

void TMetafileCanvas::SetPixel(TPointD point, TColor color) {
  const TPointD p = ToTile(point);
  if (!(std::abs(p.X) < FarAway && std::abs(p.Y) < FarAway)) return;
  budget_.Spend(4);
  ApplyClip();
  cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  SetColor(cr_, color);
  cairo_rectangle(cr_, std::floor(p.X), std::floor(p.Y), 1, 1);
  cairo_fill(cr_);
}

void TMetafileCanvas::PatBlt(const TBoxD& box, std::uint32_t rop) {
  TBrush brush = state_.Brush;
  int rop2 = R2CopyPen;
  switch (rop) {
    case RopNoOp: return;
    case RopBlackness: brush = TBrush{TBrushStyle::Solid, clBlack, 0, {}}; break;
    case RopWhiteness: brush = TBrush{TBrushStyle::Solid, clWhite, 0, {}}; break;
    case RopDstInvert: rop2 = R2Not; break;
    case RopPatInvert: rop2 = R2XorPen; break;
    default: break;
  }
  TFigures figures = RectangleFigures(box);
  budget_.Spend(4);
  if (AllFinite(figures) && Reasonable(figures)) Fill(figures, brush, false, rop2);
}

// ---- Bitmaps ---------------------------------------------------------------------------

namespace {

cairo_operator_t BlitOperator(std::uint32_t rop) {
  switch (rop) {
    case RopSrcAnd: return CAIRO_OPERATOR_MULTIPLY;
    case RopSrcPaint: return CAIRO_OPERATOR_LIGHTEN;
    case RopSrcInvert: return CAIRO_OPERATOR_DIFFERENCE;
    default: return CAIRO_OPERATOR_OVER;
  }
}

}  // namespace

void TMetafileCanvas::DrawDib(const TBoxD& destination, const TDibBlit& blit) {
  if (blit.Rop == RopNoOp) return;
  const TMatrix m = LogicalToTile();
  TPointD origin = m.Apply({destination.Left, destination.Top});
  TPointD across = m.ApplyLinear({destination.Width(), 0}), down = m.ApplyLinear({0, destination.Height()});
  const TFigures corners{TFigure{{origin,
                                  {origin.X + across.X, origin.Y + across.Y},
                                  {origin.X + across.X + down.X, origin.Y + across.Y + down.Y},
                                  {origin.X + down.X, origin.Y + down.Y}},
                                 true}};
  budget_.Spend(4);
  if (!AllFinite(corners) || !Reasonable(corners)) return;
  // Nothing is decoded for a bitmap that falls outside the area drawn.
  const TBoxD bounds = BoundsOf(corners);
  const double visibleWidth = std::min(bounds.Right, clip_.Right) - std::max(bounds.Left, clip_.Left);
  const double visibleHeight = std::min(bounds.Bottom, clip_.Bottom) - std::max(bounds.Top, clip_.Top);
  if (!(visibleWidth > 0 && visibleHeight > 0)) return;

  // A bitmap may take what its record holds, or what the area drawn holds when it is
  // compressed, not more.
  const double area = clip_.Width() * clip_.Height();
  const std::size_t maxBytes =
      std::max({2 * (blit.Header.Size + blit.Bits.Size), static_cast<std::size_t>(4 * area), std::size_t{1} << 20});
  TBitmap bitmap;
  if (!ReadDib(blit.Header, blit.Bits, maxBytes, bitmap)) return;
  budget_.Spend(static_cast<double>(bitmap.Width()) * bitmap.Height());
  if (!budget_.Take(4 * visibleWidth * visibleHeight)) return;

  // The source rectangle as asked (it may run backwards: a mirrored picture), then the part
  // of it that the bitmap really has.
  TBoxD wanted = blit.Source;
  if (wanted.Width() == 0 || wanted.Height() == 0) wanted = {0, 0, double(bitmap.Width()), double(bitmap.Height())};
  if (blit.SourceFromBottom) {
    const double height = wanted.Height();
    wanted.Top = bitmap.Height() - wanted.Top - height;
    wanted.Bottom = wanted.Top + height;
  }
  if (wanted.Width() < 0) {
    origin = {origin.X + across.X, origin.Y + across.Y};
    across = {-across.X, -across.Y};
    std::swap(wanted.Left, wanted.Right);
  }
  if (wanted.Height() < 0) {
    origin = {origin.X + down.X, origin.Y + down.Y};
    down = {-down.X, -down.Y};
    std::swap(wanted.Top, wanted.Bottom);
  }
  const int left = static_cast<int>(std::clamp(std::floor(wanted.Left), 0.0, double(bitmap.Width())));
  const int right = static_cast<int>(std::clamp(std::ceil(wanted.Right), 0.0, double(bitmap.Width())));
  const int top = static_cast<int>(std::clamp(std::floor(wanted.Top), 0.0, double(bitmap.Height())));
  const int bottom = static_cast<int>(std::clamp(std::ceil(wanted.Bottom), 0.0, double(bitmap.Height())));
  if (left >= right || top >= bottom) return;

  // Every pixel of a bitmap much finer than the area it lands on is not needed.
  const int width = right - left, height = bottom - top;
  const double onTileX = std::hypot(across.X, across.Y) * width / wanted.Width();
  const double onTileY = std::hypot(down.X, down.Y) * height / wanted.Height();
  int stepX = std::max(1, static_cast<int>(width / std::max(1.0, 2 * onTileX)));
  int stepY = std::max(1, static_cast<int>(height / std::max(1.0, 2 * onTileY)));
  while (static_cast<double>(width / stepX) * (height / stepY) > std::max(area, double(1 << 20))) {
    ++stepX;
    ++stepY;
  }
  cairo_surface_t* surface = BitmapToSurface(bitmap, left, top, width, height, stepX, stepY, blit.Alpha);
  if (!surface) return;

  // Surface pixel (i, j) is bitmap pixel (left + i·stepX, top + j·stepY).
  const double ux = across.X / wanted.Width(), uy = across.Y / wanted.Width();
  const double vx = down.X / wanted.Height(), vy = down.Y / wanted.Height();
  const TMatrix toTile{ux * stepX, uy * stepX, vx * stepY, vy * stepY,
                       origin.X + (left - wanted.Left) * ux + (top - wanted.Top) * vx,
                       origin.Y + (left - wanted.Left) * uy + (top - wanted.Top) * vy};
  TMatrix fromTile;
  if (toTile.Invert(fromTile)) {
    const double w = static_cast<double>(width) / stepX, h = static_cast<double>(height) / stepY;
    const std::vector<TPointD> parallelogram =
        ClipPolygon({toTile.Apply({0, 0}), toTile.Apply({w, 0}), toTile.Apply({w, h}), toTile.Apply({0, h})},
                    GuardBox(2));
    if (parallelogram.size() >= 3) {
      ApplyClip();
      cairo_save(cr_);
      cairo_new_path(cr_);
      AddPolygonPath(cr_, parallelogram);
      cairo_clip(cr_);
      cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
      const cairo_matrix_t matrix{fromTile.A, fromTile.B, fromTile.C, fromTile.D, fromTile.E, fromTile.F};
      cairo_pattern_set_matrix(pattern, &matrix);
      cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
      // Enlarged bitmaps keep their sharp pixels, as Windows stretches them; reduced ones
      // are averaged.
      const bool enlarged = onTileX >= width && onTileY >= height;
      cairo_pattern_set_filter(pattern, enlarged ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
      cairo_set_source(cr_, pattern);
      cairo_set_operator(cr_, BlitOperator(blit.Rop));
      cairo_paint_with_alpha(cr_, std::clamp(blit.ConstantAlpha, 0.0, 1.0));
      cairo_pattern_destroy(pattern);
      cairo_restore(cr_);
    }
  }
  cairo_surface_destroy(surface);
}

// ---- Filling and stroking -------------------------------------------------------------------

// Anti-aliasing costs Cairo time that grows with the square of the edges a row crosses
// when they cross one another; a shape that could cost much that way is drawn without it,
// which costs time in proportion to the edges alone.
double TMetafileCanvas::RasterCost(const TScanCost& scan) {
  constexpr double MaxSmoothPairs = 1 << 22;
  budget_.Spend(std::min(clip_.Height(), 4096.0));  // what the estimate itself took
  const bool smooth = scan.Pairs <= MaxSmoothPairs;
  cairo_set_antialias(cr_, smooth ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  return 16 * scan.Crossings + (smooth ? 8 * scan.Pairs : 0);
}

TBoxD TMetafileCanvas::GuardBox(double margin) const {
  return {clip_.Left - margin, clip_.Top - margin, clip_.Right + margin, clip_.Bottom + margin};
}

// Chooses how the colour meets the picture; false when nothing is to be drawn. `color`
// may be replaced by the operation's own colour.
bool TMetafileCanvas::SetOperator(int rop2, TColor& color) {
  cairo_operator_t op = CAIRO_OPERATOR_OVER;
  switch (rop2) {
    case R2NoOp: return false;
    case R2Black: color = clBlack; break;
    case R2White: color = clWhite; break;
    case R2Not: color = clWhite; op = CAIRO_OPERATOR_DIFFERENCE; break;
    case R2XorPen: op = CAIRO_OPERATOR_DIFFERENCE; break;
    case R2MaskPen: op = CAIRO_OPERATOR_MULTIPLY; break;
    case R2MergePen: op = CAIRO_OPERATOR_LIGHTEN; break;
    default: break;
  }
  cairo_set_operator(cr_, op);
  return true;
}

bool TMetafileCanvas::SetBrushSource(const TBrush& brush, int rop2) {
  TColor color = brush.Color;
  if (brush.Style == TBrushStyle::Null || !SetOperator(rop2, color)) return false;
  if (brush.Style == TBrushStyle::Solid || color != brush.Color) {
    SetColor(cr_, color);
    return true;
  }
  cairo_surface_t* surface = PatternSurface(brush);
  if (!surface) {
    SetColor(cr_, PatternStandIn);
    return true;
  }
  // Patterns are laid on the device's pixel grid, from the picture's top left corner.
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_matrix_t matrix;
  cairo_matrix_init_translate(&matrix, -toTile_.E, -toTile_.F);
  cairo_pattern_set_matrix(pattern, &matrix);
  cairo_set_source(cr_, pattern);
  cairo_pattern_destroy(pattern);
  return true;
}

// The hatch or the pattern bitmap of a brush as a small surface, kept for the next shape.
cairo_surface_t* TMetafileCanvas::PatternSurface(const TBrush& brush) {
  if (brush.Style == TBrushStyle::Hatched) {
    // Hatches depend on the colours in force, so they are made afresh; they are tiny.
    if (patternSurface_) cairo_surface_destroy(patternSurface_);
    patternKey_ = nullptr;
    patternSurface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
    if (cairo_surface_status(patternSurface_) != CAIRO_STATUS_SUCCESS) return nullptr;
    cairo_surface_flush(patternSurface_);
    unsigned char* data = cairo_image_surface_get_data(patternSurface_);
    const int stride = cairo_image_surface_get_stride(patternSurface_);
    auto pixel = [](TColor c) { return 0xFF000000u | RedOf(c) << 16 | GreenOf(c) << 8 | BlueOf(c); };
    const std::uint32_t line = pixel(brush.Color);
    const std::uint32_t back = state_.OpaqueBackground ? pixel(state_.BackColor) : 0;
    for (int y = 0; y < 8; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
      for (int x = 0; x < 8; ++x) row[x] = HatchPixel(brush.Hatch, x, y) ? line : back;
    }
    cairo_surface_mark_dirty(patternSurface_);
    return patternSurface_;
  }
  if (brush.PatternDib.Data == patternKey_ && patternSurface_) return patternSurface_;
  if (patternSurface_) cairo_surface_destroy(patternSurface_);
  patternKey_ = brush.PatternDib.Data;
  patternSurface_ = DibToSurface(brush.PatternDib, TBytes{}, MaxPatternPixels, budget_);
  return patternSurface_;
}

double TMetafileCanvas::PenWidthOnTile(const TPen& pen) const {
  double width = 1;
  if (!pen.Cosmetic && pen.Width > 0) {
    const TMatrix m = LogicalToTile();
    width = pen.Width * std::sqrt(std::abs(m.Determinant()));
  }
  // A pen is at least a pixel wide, and never wider than twice the area drawn.
  const double limit = 2 * std::hypot(clip_.Width(), clip_.Height()) + 16;
  return std::isfinite(width) ? std::clamp(width, 1.0, limit) : 1.0;
}

void TMetafileCanvas::Fill(const TFigures& figures, const TBrush& brush, bool winding, int rop2) {
  if (brush.Style == TBrushStyle::Null || figures.empty()) return;
  ApplyClip();
  const TBoxD guard = GuardBox(2);
  double work = 0;
  cairo_new_path(cr_);
  TFigures visible;
  for (const TFigure& figure : figures) {
    std::vector<TPointD> clipped = ClipPolygon(figure.Points, guard);
    work += static_cast<double>(figure.Points.size());
    if (clipped.size() >= 3) visible.push_back(TFigure{std::move(clipped), true});
  }
  const TBoxD bounds = BoundsOf(visible);
  const double width = std::max(0.0, std::min(bounds.Right, clip_.Right) - std::max(bounds.Left, clip_.Left));
  const double height = std::max(0.0, std::min(bounds.Bottom, clip_.Bottom) - std::max(bounds.Top, clip_.Top));
  budget_.Spend(work);
  if (!budget_.Take(width * height + RasterCost(ScanCost(visible, true, clip_, 0))) || !SetBrushSource(brush, rop2))
    return;
  for (const TFigure& figure : visible) AddPolygonPath(cr_, figure.Points);
  cairo_set_fill_rule(cr_, winding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  cairo_fill(cr_);
}

void TMetafileCanvas::Stroke(const TFigures& figures, const TPen& pen) {
  const std::uint32_t style = pen.Style & PenStyleMask;
  if (style == psNull || figures.empty()) return;
  const double width = PenWidthOnTile(pen);
  const TMatrix m = LogicalToTile();
  const double logicalUnit = std::sqrt(std::abs(m.Determinant()));

  // The dash pattern in pixels.
  std::vector<double> dashes;
  auto pattern = [&](std::initializer_list<double> lengths) {
    const double unit = width > 1 ? width / 3 : 1;
    for (double length : lengths) dashes.push_back(length * unit);
  };
  switch (style) {
    case psDash: pattern({18, 6}); break;
    case psDot: pattern({3, 3}); break;
    case psDashDot: pattern({9, 6, 3, 6}); break;
    case psDashDotDot: pattern({9, 3, 3, 3, 3, 3}); break;
    case psUserStyle:
      for (int i = 0; i < pen.UserDashCount; ++i) {
        const double length = std::abs(pen.UserDashes[static_cast<std::size_t>(i)]) *
                              (pen.Cosmetic ? 1.0 : logicalUnit);
        dashes.push_back(std::isfinite(length) ? std::clamp(length, 0.0, 1e6) : 0.0);
      }
      if (dashes.size() % 2) dashes.push_back(dashes.back());
      break;
    default: break;
  }
  double period = 0;
  for (double& dash : dashes) {
    dash = std::max(dash, 0.25);  // no pattern makes Cairo draw a dash per fraction of a pixel
    period += dash;
  }

  TColor color = pen.Color;
  cairo_new_path(cr_);
  ApplyClip();
  if (!SetOperator(state_.Rop2, color)) return;
  SetColor(cr_, color);
  cairo_set_line_width(cr_, width);
  cairo_set_miter_limit(cr_, state_.MiterLimit);
  const std::uint32_t cap = pen.Style & PenEndCapMask, join = pen.Style & PenJoinMask;
  cairo_set_line_cap(cr_, pen.Cosmetic ? CAIRO_LINE_CAP_BUTT
                          : cap == 0x100 ? CAIRO_LINE_CAP_SQUARE
                          : cap == 0x200 ? CAIRO_LINE_CAP_BUTT
                                         : CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr_, join == 0x1000 ? CAIRO_LINE_JOIN_BEVEL
                           : join == 0x2000 ? CAIRO_LINE_JOIN_MITER
                                            : CAIRO_LINE_JOIN_ROUND);
  // A line of an odd number of pixels covers whole pixels when it runs through their middle.
  const double shift = std::lround(width) % 2 == 1 ? 0.5 : 0;

  const TBoxD guard = GuardBox(width + 4);
  auto strokeRun = [&](const std::vector<TPointD>& points, bool closed, double startLength) {
    const double length = PolylineLength(points) + (closed ? std::hypot(points.back().X - points[0].X,
                                                                        points.back().Y - points[0].Y)
                                                           : 0);
    // The outline has an edge on either side of each segment and a join at each point, as
    // tall as the pen is wide; each dash is a shape of its own.
    TScanCost scan = ScanCost({TFigure{points, closed}}, closed, clip_, width / 2);
    scan.Crossings = 2 * scan.Crossings + static_cast<double>(points.size()) * width;
    scan.Pairs *= 4;
    budget_.Spend(static_cast<double>(points.size()));
    const double pieces = period > 0 ? length / period * static_cast<double>(dashes.size() / 2) : 0;
    if (!budget_.Take(2 * std::min(length * width, clip_.Width() * clip_.Height()) + 4096 * pieces + RasterCost(scan)))
      return;
    if (period > 0) cairo_set_dash(cr_, dashes.data(), static_cast<int>(dashes.size()), std::fmod(startLength, period));
    cairo_move_to(cr_, points[0].X + shift, points[0].Y + shift);
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].X + shift, points[i].Y + shift);
    if (closed) cairo_close_path(cr_);
    cairo_stroke(cr_);
  };
  for (const TFigure& figure : figures) {
    if (figure.Points.size() < 2) continue;
    const TBoxD bounds = BoundsOf({figure});
    if (bounds.Left >= guard.Left && bounds.Right <= guard.Right && bounds.Top >= guard.Top &&
        bounds.Bottom <= guard.Bottom) {
      strokeRun(figure.Points, figure.Closed, 0);
      continue;
    }
    std::vector<TPointD> outline = figure.Points;
    if (figure.Closed) outline.push_back(figure.Points[0]);
    for (const TClippedRun& run : ClipPolyline(outline, guard))
      if (run.Points.size() >= 2) strokeRun(run.Points, false, run.StartLength);
  }
  cairo_set_dash(cr_, nullptr, 0, 0);
}

// ---- Paths ------------------------------------------------------------------------------

void TMetafileCanvas::BeginPath() {
  path_.clear();
  inPath_ = true;
  figureOpen_ = false;
}

void TMetafileCanvas::AbortPath() {
  path_.clear();
  inPath_ = false;
}

void TMetafileCanvas::CloseFigure() {
  if (inPath_ && !path_.empty()) path_.back().Closed = true;
  figureOpen_ = false;
}

void TMetafileCanvas::FillPath() { StrokeAndFill(true, false); }
void TMetafileCanvas::StrokePath() { StrokeAndFill(false, true); }
void TMetafileCanvas::StrokeAndFillPath() { StrokeAndFill(true, true); }

void TMetafileCanvas::StrokeAndFill(bool fill, bool stroke) {
  inPath_ = false;
  TFigures figures = std::move(path_);
  path_.clear();
  if (fill) Fill(figures, state_.Brush, state_.Winding, state_.Rop2);
  if (stroke) Stroke(figures, state_.Pen);
}

void TMetafileCanvas::SelectClipPath(TRegionMode mode) {
  inPath_ = false;
  auto part = std::make_shared<TClipPart>();
  part->Polygons = std::move(path_);
  path_.clear();
  part->Winding = state_.Winding;
  CombineClip(std::move(part), mode);
}

// ---- Clipping ------------------------------------------------------------------------------

void TMetafileCanvas::CombineClip(std::shared_ptr<TClipPart> part, TRegionMode mode) {
  switch (mode) {
    case TRegionMode::Copy:
      state_.Clip.clear();
      if (!part->Polygons.empty()) AddClipPart(std::move(part));
      break;
    case TRegionMode::And: AddClipPart(std::move(part)); break;
    case TRegionMode::Diff:
      part->Exclude = true;
      AddClipPart(std::move(part));
      break;
    default: break;  // a union or exclusive or only ever widens the clip: left as it is
  }
  clipApplied_ = false;
}

void TMetafileCanvas::AddClipPart(std::shared_ptr<TClipPart> part) {
  if (!AllFinite(part->Polygons) || !Reasonable(part->Polygons)) return;
  budget_.Spend(static_cast<double>(PointCount(part->Polygons)));
  std::size_t points = PointCount(part->Polygons);
  for (const auto& kept : state_.Clip) points += PointCount(kept->Polygons);
  if (state_.Clip.size() >= MaxClipParts || points > MaxClipPoints) return;
  state_.Clip.push_back(std::move(part));
  clipApplied_ = false;
}

void TMetafileCanvas::IntersectClipRect(const TBoxD& box) {
  auto part = std::make_shared<TClipPart>();
  part->Polygons = RectangleFigures(box);
  AddClipPart(std::move(part));
}

void TMetafileCanvas::ExcludeClipRect(const TBoxD& box) {
  auto part = std::make_shared<TClipPart>();
  part->Polygons = RectangleFigures(box);
  part->Exclude = true;
  AddClipPart(std::move(part));
}

void TMetafileCanvas::OffsetClip(TPointD delta) {
  const TPointD shift = LogicalToTile().ApplyLinear(delta);
  if (!(std::abs(shift.X) < FarAway && std::abs(shift.Y) < FarAway)) return;
  for (auto& part : state_.Clip) {
    auto moved = std::make_shared<TClipPart>(*part);
    for (TFigure& figure : moved->Polygons)
      for (TPointD& p : figure.Points) p = {p.X + shift.X, p.Y + shift.Y};
    part = std::move(moved);
  }
  clipApplied_ = false;
}

TFigures TMetafileCanvas::DeviceRectangles(const std::vector<TBoxD>& rectangles) const {
  TFigures figures;
  for (std::size_t i = 0; i < rectangles.size() && i < MaxRegionRectangles; ++i) {
    const TBoxD& r = rectangles[i];
    figures.push_back(TFigure{{toTile_.Apply({r.Left, r.Top}), toTile_.Apply({r.Right, r.Top}),
                               toTile_.Apply({r.Right, r.Bottom}), toTile_.Apply({r.Left, r.Bottom})},
                              true});
  }
  return figures;
}

void TMetafileCanvas::SelectClipRegion(const std::vector<TBoxD>& rectangles, TRegionMode mode) {
  auto part = std::make_shared<TClipPart>();
  part->Polygons = DeviceRectangles(rectangles);
  CombineClip(std::move(part), mode);
}

void TMetafileCanvas::FillRegion(const std::vector<TBoxD>& rectangles, const TBrush& brush) {
  const TFigures figures = DeviceRectangles(rectangles);
  budget_.Spend(static_cast<double>(PointCount(figures)));
  if (AllFinite(figures) && Reasonable(figures)) Fill(figures, brush, true, state_.Rop2);
}

void TMetafileCanvas::ApplyClip() {
  if (clipApplied_) return;
  clipApplied_ = true;
  cairo_reset_clip(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, clip_.Left, clip_.Top, clip_.Width(), clip_.Height());
  cairo_clip(cr_);
  const TBoxD guard = GuardBox(2);
  for (const auto& part : state_.Clip) {
    budget_.Spend(16.0 * static_cast<double>(PointCount(part->Polygons)));
    cairo_new_path(cr_);
    if (part->Exclude) {
      AddPolygonPath(cr_, {{guard.Left, guard.Top}, {guard.Right, guard.Top}, {guard.Right, guard.Bottom},
                           {guard.Left, guard.Bottom}});
    }
    for (const TFigure& figure : part->Polygons) {
      const std::vector<TPointD> clipped = ClipPolygon(figure.Points, guard);
      if (clipped.size() >= 3) AddPolygonPath(cr_, clipped);
    }
    cairo_set_fill_rule(cr_, part->Exclude || !part->Winding ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
  }
  cairo_new_path(cr_);
}

}  // namespace driftpost::metafile
