// TMetafileCanvas: the drawing surface that the metafile players drive, as a Windows device
// context would be: the state that records change (pen, brush, font, colours, modes, the
// mapping from logical units to pixels, the clip), the object table, the path bracket, and
// the drawing operations. Shapes become device-space polylines (MetafileGeometry.h), are
// clipped to a little more than the area being drawn, and are then filled or stroked by
// Cairo on an image surface that the caller owns.
//
// Everything a file says is bounded here: the object table, the save stack, the clip, the
// path and each shape hold at most a fixed number of entries or points, and every operation
// is charged to a work budget that, once spent, stops the drawing.
#pragma once

#include <cairo.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "picture/Graphic.h"
#include "picture/MetafileGeometry.h"

namespace driftpost::metafile {

// Bytes inside the metafile, which outlives the playback.
struct TBytes {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
};

// The work one drawing may do, in units of about a nanosecond of Cairo's or our time.
// Reading records and points is spent as it is done; when that has spent the budget the
// players stop. Drawing a shape is taken only when the rest of the budget covers it: a
// shape that would cost more is left out, and the shapes after it are still drawn.
class TWorkBudget {
 public:
  explicit TWorkBudget(double units) : remaining_(units) {}
  void Spend(double units) { remaining_ -= units; }
  bool Take(double units) {
    if (!(units <= remaining_)) return false;
    remaining_ -= units;
    return true;
  }
  bool Exhausted() const { return remaining_ < 0; }

 private:
  double remaining_;
};

// Pen styles (the low bits of a Windows pen style) and the flags of extended pens.
enum TPenStyle : std::uint32_t {
  psSolid = 0, psDash = 1, psDot = 2, psDashDot = 3, psDashDotDot = 4, psNull = 5, psInsideFrame = 6, psUserStyle = 7,
};
constexpr std::uint32_t PenStyleMask = 0x0F;
constexpr std::uint32_t PenEndCapMask = 0x0F00;  // round 0, square 0x100, flat 0x200
constexpr std::uint32_t PenJoinMask = 0xF000;    // round 0, bevel 0x1000, miter 0x2000
constexpr std::uint32_t PenGeometric = 0x10000;

struct TPen {
  std::uint32_t Style = psSolid;
  double Width = 0;  // logical units; 0 draws one pixel wide
  bool Cosmetic = true;
  TColor Color = clBlack;
  std::array<float, 16> UserDashes{};  // lengths in logical units, for psUserStyle
  int UserDashCount = 0;
};

enum class TBrushStyle : std::uint8_t { Solid, Null, Hatched, Pattern };

struct TBrush {
  TBrushStyle Style = TBrushStyle::Solid;
  TColor Color = clWhite;
  int Hatch = 0;
  TBytes PatternDib;  // a packed device-independent bitmap, for Pattern
};

struct TFont {
  double Height = 0;      // logical units; negative: the character height, positive: the cell
  double Escapement = 0;  // tenths of a degree, counter-clockwise
  int Weight = 400;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

struct TGdiObject {
  enum class TKind : std::uint8_t { Pen, Brush, Font, Other } Kind = TKind::Other;
  TPen Pen;
  TBrush Brush;
  TFont Font;
};

// Objects as both formats' records describe them: a font from its logical font record's
// fields, a brush from its style (solid, null, hatched, or a pattern), colour and hatch.
TGdiObject FontObject(double height, double escapement, int weight, bool italic, bool underline, bool strikeOut);
TGdiObject BrushObject(std::uint32_t style, TColor color, int hatch);

// Mapping modes.
enum TMapMode : int {
  mmText = 1, mmLoMetric = 2, mmHiMetric = 3, mmLoEnglish = 4, mmHiEnglish = 5, mmTwips = 6, mmIsotropic = 7,
  mmAnisotropic = 8,
};

// Text alignment flags.
constexpr unsigned TaUpdateCp = 1, TaRight = 2, TaCenter = 6, TaBottom = 8, TaBaseline = 24;

// Raster operations of the blits, and the binary ones of pens and brushes.
constexpr std::uint32_t RopSrcCopy = 0xCC0020, RopSrcAnd = 0x8800C6, RopSrcPaint = 0xEE0086,
                        RopSrcInvert = 0x660046, RopPatCopy = 0xF00021, RopPatInvert = 0x5A0049,
                        RopDstInvert = 0x550009, RopBlackness = 0x000042, RopWhiteness = 0xFF0062,
                        RopNoOp = 0xAA0029;

// One step of the clip: the device-space area inside these polygons (or outside them).
struct TClipPart {
  TFigures Polygons;
  bool Winding = true;
  bool Exclude = false;
};

// How the clip changes with a new region.
enum class TRegionMode : int { And = 1, Or = 2, Xor = 3, Diff = 4, Copy = 5 };

// A device-independent bitmap drawn into a rectangle.
struct TDibBlit {
  TBytes Header;  // the bitmap info: header and colour table
  TBytes Bits;    // the pixel data; empty when it follows the header in the same bytes
  TBoxD Source;   // pixels of the bitmap, top-down; Width or Height 0: the whole bitmap
  bool SourceFromBottom = false;  // Source.Top counts from the bitmap's last row
  std::uint32_t Rop = RopSrcCopy;
  bool Alpha = false;        // blend with the pixels' alpha channel
  double ConstantAlpha = 1;  // and this opacity
};

class TMetafileCanvas {
 public:
  // Draws on `cr`, whose surface covers the tile; `toTile` maps the reference device (or
  // the picture, for the old format) to the tile's pixels; `clip` is the part of the tile
  // that the picture covers. `maxObjects` bounds the object table.
  TMetafileCanvas(cairo_t* cr, const TMatrix& toTile, const TBoxD& clip, TWorkBudget& budget,
                  std::size_t maxObjects);
  ~TMetafileCanvas();
  TMetafileCanvas(const TMetafileCanvas&) = delete;
  TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

  bool Exhausted() const { return budget_.Exhausted(); }
  void Spend(double units) { budget_.Spend(units); }

  // The old format maps its window onto a fixed viewport, the picture; the enhanced format
  // maps through its mapping mode and viewport onto the reference device.
  void SetFixedViewport(const TBoxD& viewport);
  // The reference device's pixels per millimetre, for the mapping modes of fixed units.
  void SetDeviceResolution(double pixelsPerMillimetreX, double pixelsPerMillimetreY);

  // State records.
  void SaveDC();
  // Negative: that many states back; positive: the state saved as that number (1 first).
  void RestoreDC(int which);
  void SetMapMode(int mode);
  void SetWindowOrg(TPointD origin);
  void SetWindowExt(TPointD extent);
  void SetViewportOrg(TPointD origin);
  void SetViewportExt(TPointD extent);
  void OffsetWindowOrg(TPointD delta);
  void OffsetViewportOrg(TPointD delta);
  void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
  void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
  void SetWorldTransform(const TMatrix& world);
  // Windows' ModifyWorldTransform modes: 1 identity, 2 left multiply, 3 right multiply, 4 set.
  void ModifyWorldTransform(const TMatrix& matrix, int mode);
  void SetBackColor(TColor color) { state_.BackColor = color; }
  void SetTextColor(TColor color) { state_.TextColor = color; }
  void SetBackMode(int mode) { state_.OpaqueBackground = mode == 2; }
  void SetPolyFillMode(int mode) { state_.Winding = mode == 2; }
  void SetTextAlign(unsigned align) { state_.TextAlign = align; }
  void SetRop2(int rop) { state_.Rop2 = rop; }
  void SetArcDirection(int direction) { state_.Clockwise = direction == 2; }
  void SetMiterLimit(double limit);
  void MoveTo(TPointD point);
  TPointD Position() const { return state_.Position; }

  // Objects. The old format puts a new object into the first free slot; the enhanced one
  // names the slot. Selecting or deleting a slot that holds nothing does nothing.
  void CreateObjectAtFreeSlot(const TGdiObject& object);
  void CreateObjectAt(std::uint32_t index, const TGdiObject& object);
  void SelectObject(std::uint32_t index);
  void DeleteObject(std::uint32_t index);
  // The enhanced format's stock objects (index without its high bit).
  void SelectStockObject(std::uint32_t stock);

  // Drawing, in logical coordinates.
  void LineTo(TPointD point);
  void Polyline(const std::vector<TPointD>& points);
  void PolylineTo(const std::vector<TPointD>& points);
  void Polygon(const std::vector<TPointD>& points);
  void PolyPolygon(const std::vector<std::vector<TPointD>>& polygons);
  void PolyPolyline(const std::vector<std::vector<TPointD>>& polylines);
  // Points in threes after the start: control, control, end.
  void PolyBezier(const std::vector<TPointD>& points);
  void PolyBezierTo(const std::vector<TPointD>& points);
  void Rectangle(const TBoxD& box);
  void RoundRect(const TBoxD& box, TPointD corner);
  void Ellipse(const TBoxD& box);
  enum class TArcKind { Arc, ArcTo, Chord, Pie };
  void Arc(TArcKind kind, const TBoxD& box, TPointD start, TPointD end);
  void AngleArc(TPointD center, double radius, double startDegrees, double sweepDegrees);
  void SetPixel(TPointD point, TColor color);
  // Fills the rectangle with the brush (or black, white, inverted) by raster operation.
  void PatBlt(const TBoxD& box, std::uint32_t rop);
  void DrawDib(const TBoxD& destination, const TDibBlit& blit);
  // `text` is UTF-8; `advances` (logical units, may be empty) places each character after
  // the first. Options: 2 fills `box` with the back colour, 4 clips to it.
  void TextOut(TPointD point, const std::string& text, const std::vector<double>& advances, unsigned options,
               const std::optional<TBoxD>& box);

  // Paths.
  void BeginPath();
  void EndPath() { inPath_ = false; }
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(TRegionMode mode);

  // Clipping: rectangles in logical units; regions in device units of the reference device.
  void IntersectClipRect(const TBoxD& box);
  void ExcludeClipRect(const TBoxD& box);
  void OffsetClip(TPointD delta);  // logical units
  void SelectClipRegion(const std::vector<TBoxD>& rectangles, TRegionMode mode);
  // Fills device-unit rectangles with a brush (a region painted).
  void FillRegion(const std::vector<TBoxD>& rectangles, const TBrush& brush);
  const TBrush& CurrentBrush() const { return state_.Brush; }
  // The enhanced format's stock brushes (white, greys, black, null).
  static TBrush StockBrush(std::uint32_t stock);
  const TGdiObject* ObjectAt(std::uint32_t index) const;

 private:
  struct TState {
    TPen Pen;
    TBrush Brush;
    TFont Font;
    TColor TextColor = clBlack;
    TColor BackColor = clWhite;
    bool OpaqueBackground = true;
    bool Winding = false;
    unsigned TextAlign = 0;
    int Rop2 = 13;  // copy the pen
    bool Clockwise = false;
    double MiterLimit = 10;
    int MapMode = mmText;
    TPointD WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
    TMatrix World;
    TPointD Position;
    std::vector<std::shared_ptr<const TClipPart>> Clip;
  };

  TMatrix LogicalToTile() const;
  TPointD ToTile(TPointD logical) const { return LogicalToTile().Apply(logical); }
  TFigure Transformed(const std::vector<TPointD>& points, bool closed) const;
  TFigures RectangleFigures(const TBoxD& box) const;
  TFigures DeviceRectangles(const std::vector<TBoxD>& rectangles) const;
  // Adds figures to the path when a path is being recorded, else fills and strokes them.
  void Emit(TFigures figures, bool fill, bool stroke);
  // Tile points that continue the line from the current position.
  void EmitConnected(const std::vector<TPointD>& tilePoints);
  void Fill(const TFigures& figures, const TBrush& brush, bool winding, int rop2);
  void Stroke(const TFigures& figures, const TPen& pen);
  void StrokeAndFill(bool fill, bool stroke);
  bool SetOperator(int rop2, TColor& color);
  // Chooses anti-aliasing for a shape whose edges cross rows as `scan` says; the cost of
  // rasterising it.
  double RasterCost(const TScanCost& scan);
  bool SetBrushSource(const TBrush& brush, int rop2);
  cairo_surface_t* PatternSurface(const TBrush& brush);
  double PenWidthOnTile(const TPen& pen) const;
  TBoxD GuardBox(double margin) const;
  void CombineClip(std::shared_ptr<TClipPart> part, TRegionMode mode);
  void AddClipPart(std::shared_ptr<TClipPart> part);
  void ApplyClip();

  cairo_t* cr_;
  TMatrix toTile_;
  TBoxD clip_;
  TWorkBudget& budget_;
  std::size_t maxObjects_;
  std::optional<TBoxD> fixedViewport_;
  TPointD pixelsPerMillimetre_{96 / 25.4, 96 / 25.4};
  TState state_;
  std::vector<TState> saved_;
  // The object table; the old format's free slots below the highest slot used so far.
  std::unordered_map<std::uint32_t, TGdiObject> objects_;
  std::set<std::uint32_t> freeSlots_;
  std::uint32_t highWater_ = 0;
  TFigures path_;
  bool inPath_ = false;
  bool figureOpen_ = false;  // the last figure of the path goes on from the current position
  bool clipApplied_ = false;
  // The last pattern brush's bitmap, decoded once for all the shapes it fills.
  const std::uint8_t* patternKey_ = nullptr;
  cairo_surface_t* patternSurface_ = nullptr;
};

}  // namespace driftpost::metafile
