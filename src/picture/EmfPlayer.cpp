#include "picture/EmfPlayer.h"

#include <array>
#include <cmath>

#include "picture/MetafileRecord.h"
#include "picture/MetafileText.h"

namespace driftpost::metafile {

namespace {

constexpr std::size_t RecordHeaderBytes = 8;
constexpr std::uint32_t EmrEof = 14;
constexpr std::uint32_t StockObjectFlag = 0x80000000;

// Offsets below count from the start of the record, as the format's own offsets do.
using TEmfHandler = void (*)(TMetafileCanvas&, const TRecordReader&);

TPointD PointAt(const TRecordReader& r, std::size_t at) { return {double(r.S32(at)), double(r.S32(at + 4))}; }
TBoxD BoxAt(const TRecordReader& r, std::size_t at) {
  return {double(r.S32(at)), double(r.S32(at + 4)), double(r.S32(at + 8)), double(r.S32(at + 12))};
}
TColor ColorAt(const TRecordReader& r, std::size_t at) { return r.U32(at) & 0xFFFFFF; }

// Points of 32 bits (or 16 with `small`) each coordinate; the caller has checked they fit.
std::vector<TPointD> PointsAt(const TRecordReader& r, std::size_t at, std::size_t count, bool small) {
  std::vector<TPointD> points;
  points.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (small)
      points.push_back({double(r.S16(at + 4 * i)), double(r.S16(at + 4 * i + 2))});
    else
      points.push_back(PointAt(r, at + 8 * i));
  }
  return points;
}

// A count at 24 and the points after it; none when the record does not hold them.
std::vector<TPointD> CountedPoints(const TRecordReader& r, bool small) {
  const std::size_t count = r.U32(24);
  if (!r.Has(28, count, small ? 4 : 8)) return {};
  return PointsAt(r, 28, count, small);
}

// Polygon counts at 32 after their number at 24, then all the points.
std::vector<std::vector<TPointD>> CountedPolygons(const TRecordReader& r, bool small) {
  const std::size_t polygons = r.U32(24);
  if (!r.Has(32, polygons, 4)) return {};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < polygons; ++i) total += r.U32(32 + 4 * i);
  std::size_t at = 32 + 4 * polygons;
  if (!r.Has(at, total, small ? 4 : 8)) return {};
  std::vector<std::vector<TPointD>> list;
  list.reserve(polygons);
  for (std::size_t i = 0; i < polygons; ++i) {
    const std::size_t count = r.U32(32 + 4 * i);
    list.push_back(PointsAt(r, at, count, small));
    at += count * (small ? 4 : 8);
  }
  return list;
}

// Points with a type byte each: move, line, Bézier, and a flag that closes the figure.
void PlayPolyDraw(TMetafileCanvas& canvas, const TRecordReader& r, bool small) {
  constexpr std::uint8_t CloseFigure = 1, LineTo = 2, BezierTo = 4, MoveTo = 6;
  const std::size_t count = r.U32(24);
  const std::size_t pointBytes = small ? 4 : 8;
  if (!r.Has(28, count, pointBytes + 1)) return;
  const std::vector<TPointD> points = PointsAt(r, 28, count, small);
  const std::size_t types = 28 + count * pointBytes;
  TPointD figureStart = canvas.Position();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t type = r.U8(types + i);
    switch (type & ~CloseFigure) {
      case MoveTo:
        canvas.MoveTo(points[i]);
        figureStart = points[i];
        break;
      case LineTo: canvas.LineTo(points[i]); break;
      case BezierTo:
        if (i + 2 < count) {
          canvas.PolyBezierTo({points[i], points[i + 1], points[i + 2]});
          i += 2;
        }
        break;
      default: break;
    }
    if (type & CloseFigure) {
      canvas.LineTo(figureStart);
      canvas.CloseFigure();
    }
  }
}

// Rectangles of region data starting at `at`: a 32-byte header, then the rectangles.
std::vector<TBoxD> RegionAt(const TRecordReader& r, std::size_t at) {
  const std::size_t count = r.U32(at + 8);
  std::vector<TBoxD> rectangles;
  if (!r.Has(at + 32, count, 16)) return rectangles;
  rectangles.reserve(count);
  for (std::size_t i = 0; i < count; ++i) rectangles.push_back(BoxAt(r, at + 32 + 16 * i));
  return rectangles;
}

void PlayFillRegion(TMetafileCanvas& canvas, const TRecordReader& r) {
  const std::uint32_t index = r.U32(28);
  TBrush brush;
  if (index & StockObjectFlag) {
    brush = TMetafileCanvas::StockBrush(index & ~StockObjectFlag);
  } else if (const TGdiObject* object = canvas.ObjectAt(index); object && object->Kind == TGdiObject::TKind::Brush) {
    brush = object->Brush;
  } else {
    return;
  }
  canvas.FillRegion(RegionAt(r, 32), brush);
}

TGdiObject PenObject(const TRecordReader& r) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Pen;
  object.Pen.Style = r.U32(12);
  object.Pen.Width = std::abs(double(r.S32(16)));
  object.Pen.Cosmetic = object.Pen.Width == 0;
  object.Pen.Color = ColorAt(r, 24);
  return object;
}

TGdiObject ExtendedPenObject(const TRecordReader& r) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Pen;
  TPen& pen = object.Pen;
  pen.Style = r.U32(28);
  pen.Cosmetic = !(pen.Style & PenGeometric);
  pen.Width = pen.Cosmetic ? 0 : double(r.U32(32));
  if (r.U32(36) == 1) pen.Style = (pen.Style & ~PenStyleMask) | psNull;  // a pen of the null brush
  pen.Color = ColorAt(r, 40);
  const std::size_t entries = r.U32(48);
  if ((pen.Style & PenStyleMask) == psUserStyle && r.Has(52, entries, 4)) {
    pen.UserDashCount = static_cast<int>(std::min(entries, pen.UserDashes.size()));
    for (int i = 0; i < pen.UserDashCount; ++i)
      pen.UserDashes[static_cast<std::size_t>(i)] = static_cast<float>(r.U32(52 + 4 * static_cast<std::size_t>(i)));
  }
  return object;
}

// A brush of a bitmap; the bitmap is kept only when its pixels follow its header.
TGdiObject PatternBrushObject(const TRecordReader& r) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Brush;
  object.Brush.Style = TBrushStyle::Pattern;
  const std::uint32_t offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
  if (r.U32(12) == 0 && std::uint64_t{offBmi} + cbBmi == offBits)
    object.Brush.PatternDib = r.Bytes(offBmi, std::size_t{cbBmi} + cbBits);
  return object;
}

void PlaySelectObject(TMetafileCanvas& canvas, const TRecordReader& r) {
  const std::uint32_t index = r.U32(8);
  if (index & StockObjectFlag)
    canvas.SelectStockObject(index & ~StockObjectFlag);
  else
    canvas.SelectObject(index);
}

void PlayText(TMetafileCanvas& canvas, const TRecordReader& r, bool wide) {
  constexpr unsigned GlyphIndices = 0x10, NoRectangle = 0x100, DxAndDy = 0x2000;
  const std::size_t count = r.U32(44), offString = r.U32(48);
  const unsigned options = r.U32(52);
  const std::size_t offDx = r.U32(72);
  // Glyph numbers of some font cannot be turned back into characters.
  if ((options & GlyphIndices) || !r.Has(offString, count, wide ? 2 : 1)) return;
  const std::string text = wide ? Utf16ToUtf8(r.Data() + offString, count) : AnsiToUtf8(r.Data() + offString, count);
  std::vector<double> advances;
  const std::size_t stride = options & DxAndDy ? 8 : 4;
  if (offDx != 0 && r.Has(offDx, count, stride))
    for (std::size_t i = 0; i < count; ++i) advances.push_back(r.S32(offDx + stride * i));
  std::optional<TBoxD> box;
  if (!(options & NoRectangle)) box = BoxAt(r, 56);
  canvas.TextOut(PointAt(r, 36), text, advances, options, box);
}

void PlaySmallText(TMetafileCanvas& canvas, const TRecordReader& r) {
  constexpr unsigned NoRectangle = 0x100, SmallCharacters = 0x200;
  const std::size_t count = r.U32(16);
  const unsigned options = r.U32(20);
  std::optional<TBoxD> box;
  std::size_t at = 36;
  if (!(options & NoRectangle)) {
    box = BoxAt(r, 36);
    at = 52;
  }
  const bool narrow = options & SmallCharacters;
  if (!r.Has(at, count, narrow ? 1 : 2)) return;
  const std::string text = narrow ? AnsiToUtf8(r.Data() + at, count) : Utf16ToUtf8(r.Data() + at, count);
  canvas.TextOut(PointAt(r, 8), text, {}, options, box);
}

// A bitmap record: destination, source rectangle and where its bitmap lies.
struct TBlitFields {
  TBoxD Destination;
  TBoxD Source;
  std::size_t BitmapInfo;  // offset of the four offset and size fields
  std::uint32_t Usage;
};

void PlayBitmap(TMetafileCanvas& canvas, const TRecordReader& r, const TBlitFields& f, std::uint32_t rop,
                bool fromBottom, bool alpha = false, double constantAlpha = 1) {
  const std::uint32_t offBmi = r.U32(f.BitmapInfo), cbBmi = r.U32(f.BitmapInfo + 4);
  const std::uint32_t offBits = r.U32(f.BitmapInfo + 8), cbBits = r.U32(f.BitmapInfo + 12);
  if (cbBmi == 0) return canvas.PatBlt(f.Destination, rop);
  if (f.Usage != 0) return;  // colours as palette indices: there is no palette to look them up in
  TDibBlit blit;
  blit.Header = r.Bytes(offBmi, cbBmi);
  blit.Bits = r.Bytes(offBits, cbBits);
  if (blit.Header.Size == 0 || (cbBits && blit.Bits.Size == 0)) return;
  blit.Source = f.Source;
  blit.SourceFromBottom = fromBottom;
  blit.Rop = rop;
  blit.Alpha = alpha;
  blit.ConstantAlpha = constantAlpha;
  canvas.DrawDib(f.Destination, blit);
}

TBoxD Sized(TPointD origin, double width, double height) {
  return {origin.X, origin.Y, origin.X + width, origin.Y + height};
}

// Bit blits and stretched blits share one layout up to their bitmap fields.
TBlitFields BlitFields(const TRecordReader& r, bool stretched) {
  const TPointD destination = PointAt(r, 24), source = PointAt(r, 44);
  const double width = r.S32(32), height = r.S32(36);
  const double sourceWidth = stretched ? r.S32(100) : width, sourceHeight = stretched ? r.S32(104) : height;
  return {Sized(destination, width, height), Sized(source, sourceWidth, sourceHeight), 84, r.U32(80)};
}

void PlayStretchDiBits(TMetafileCanvas& canvas, const TRecordReader& r) {
  const TBlitFields f{Sized(PointAt(r, 24), r.S32(72), r.S32(76)), Sized(PointAt(r, 32), r.S32(40), r.S32(44)), 48,
                      r.U32(64)};
  PlayBitmap(canvas, r, f, r.U32(68), true);
}

void PlaySetDiBitsToDevice(TMetafileCanvas& canvas, const TRecordReader& r) {
  const double width = r.S32(40), height = r.S32(44);
  const TBlitFields f{Sized(PointAt(r, 24), width, height), Sized(PointAt(r, 32), width, height), 48, r.U32(64)};
  PlayBitmap(canvas, r, f, RopSrcCopy, true);
}

void PlayAlphaBlend(TMetafileCanvas& canvas, const TRecordReader& r) {
  const std::uint32_t blend = r.U32(40);
  const double constantAlpha = (blend >> 16 & 0xFF) / 255.0;
  PlayBitmap(canvas, r, BlitFields(r, true), RopSrcCopy, false, (blend >> 24 & 1) != 0, constantAlpha);
}

TMatrix MatrixAt(const TRecordReader& r, std::size_t at) {
  return {r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12), r.F32(at + 16), r.F32(at + 20)};
}

// The miter limit is written as an integer by some programs and as a float by others.
double MiterLimitAt(const TRecordReader& r) {
  const std::uint32_t raw = r.U32(8);
  return raw <= 0xFFFF ? double(raw) : double(r.F32(8));
}

struct TEmfRecordKind {
  std::uint32_t Type;
  std::uint32_t MinimumSize;
  TEmfHandler Play;
};

using TArc = TMetafileCanvas::TArcKind;
using TCanvas = TMetafileCanvas;
using TReader = TRecordReader;

void PlayArc(TCanvas& c, const TReader& r, TArc kind) { c.Arc(kind, BoxAt(r, 8), PointAt(r, 24), PointAt(r, 32)); }

// Every record that draws or changes the state; the others are passed over.
constexpr TEmfRecordKind RecordKinds[] = {
    {2, 28, [](TCanvas& c, const TReader& r) { c.PolyBezier(CountedPoints(r, false)); }},
    {3, 28, [](TCanvas& c, const TReader& r) { c.Polygon(CountedPoints(r, false)); }},
    {4, 28, [](TCanvas& c, const TReader& r) { c.Polyline(CountedPoints(r, false)); }},
    {5, 28, [](TCanvas& c, const TReader& r) { c.PolyBezierTo(CountedPoints(r, false)); }},
    {6, 28, [](TCanvas& c, const TReader& r) { c.PolylineTo(CountedPoints(r, false)); }},
    {7, 32, [](TCanvas& c, const TReader& r) { c.PolyPolyline(CountedPolygons(r, false)); }},
    {8, 32, [](TCanvas& c, const TReader& r) { c.PolyPolygon(CountedPolygons(r, false)); }},
    {9, 16, [](TCanvas& c, const TReader& r) { c.SetWindowExt(PointAt(r, 8)); }},
    {10, 16, [](TCanvas& c, const TReader& r) { c.SetWindowOrg(PointAt(r, 8)); }},
    {11, 16, [](TCanvas& c, const TReader& r) { c.SetViewportExt(PointAt(r, 8)); }},
    {12, 16, [](TCanvas& c, const TReader& r) { c.SetViewportOrg(PointAt(r, 8)); }},
    {15, 20, [](TCanvas& c, const TReader& r) { c.SetPixel(PointAt(r, 8), ColorAt(r, 16)); }},
    {17, 12, [](TCanvas& c, const TReader& r) { c.SetMapMode(static_cast<int>(r.U32(8))); }},
    {18, 12, [](TCanvas& c, const TReader& r) { c.SetBackMode(static_cast<int>(r.U32(8))); }},
    {19, 12, [](TCanvas& c, const TReader& r) { c.SetPolyFillMode(static_cast<int>(r.U32(8))); }},
    {20, 12, [](TCanvas& c, const TReader& r) { c.SetRop2(static_cast<int>(r.U32(8))); }},
    {22, 12, [](TCanvas& c, const TReader& r) { c.SetTextAlign(r.U32(8)); }},
    {24, 12, [](TCanvas& c, const TReader& r) { c.SetTextColor(ColorAt(r, 8)); }},
    {25, 12, [](TCanvas& c, const TReader& r) { c.SetBackColor(ColorAt(r, 8)); }},
    {26, 16, [](TCanvas& c, const TReader& r) { c.OffsetClip(PointAt(r, 8)); }},
    {27, 16, [](TCanvas& c, const TReader& r) { c.MoveTo(PointAt(r, 8)); }},
    {29, 24, [](TCanvas& c, const TReader& r) { c.ExcludeClipRect(BoxAt(r, 8)); }},
    {30, 24, [](TCanvas& c, const TReader& r) { c.IntersectClipRect(BoxAt(r, 8)); }},
    {31, 24,
     [](TCanvas& c, const TReader& r) { c.ScaleViewportExt(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); }},
    {32, 24, [](TCanvas& c, const TReader& r) { c.ScaleWindowExt(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); }},
    {33, 8, [](TCanvas& c, const TReader&) { c.SaveDC(); }},
    {34, 12, [](TCanvas& c, const TReader& r) { c.RestoreDC(r.S32(8)); }},
    {35, 32, [](TCanvas& c, const TReader& r) { c.SetWorldTransform(MatrixAt(r, 8)); }},
    {36, 36, [](TCanvas& c, const TReader& r) { c.ModifyWorldTransform(MatrixAt(r, 8), static_cast<int>(r.U32(32))); }},
    {37, 12, PlaySelectObject},
    {38, 28, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), PenObject(r)); }},
    {39, 24, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), BrushObject(r.U32(12), ColorAt(r, 16), static_cast<int>(r.U32(20)))); }},
    {40, 12, [](TCanvas& c, const TReader& r) { c.DeleteObject(r.U32(8)); }},
    {41, 28,
     [](TCanvas& c, const TReader& r) { c.AngleArc(PointAt(r, 8), double(r.U32(16)), r.F32(20), r.F32(24)); }},
    {42, 24, [](TCanvas& c, const TReader& r) { c.Ellipse(BoxAt(r, 8)); }},
    {43, 24, [](TCanvas& c, const TReader& r) { c.Rectangle(BoxAt(r, 8)); }},
    {44, 32, [](TCanvas& c, const TReader& r) { c.RoundRect(BoxAt(r, 8), PointAt(r, 24)); }},
    {45, 40, [](TCanvas& c, const TReader& r) { PlayArc(c, r, TArc::Arc); }},
    {46, 40, [](TCanvas& c, const TReader& r) { PlayArc(c, r, TArc::Chord); }},
    {47, 40, [](TCanvas& c, const TReader& r) { PlayArc(c, r, TArc::Pie); }},
    {49, 12, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), TGdiObject{}); }},
    {54, 16, [](TCanvas& c, const TReader& r) { c.LineTo(PointAt(r, 8)); }},
    {55, 40, [](TCanvas& c, const TReader& r) { PlayArc(c, r, TArc::ArcTo); }},
    {56, 28, [](TCanvas& c, const TReader& r) { PlayPolyDraw(c, r, false); }},
    {57, 12, [](TCanvas& c, const TReader& r) { c.SetArcDirection(static_cast<int>(r.U32(8))); }},
    {58, 12, [](TCanvas& c, const TReader& r) { c.SetMiterLimit(MiterLimitAt(r)); }},
    {59, 8, [](TCanvas& c, const TReader&) { c.BeginPath(); }},
    {60, 8, [](TCanvas& c, const TReader&) { c.EndPath(); }},
    {61, 8, [](TCanvas& c, const TReader&) { c.CloseFigure(); }},
    {62, 8, [](TCanvas& c, const TReader&) { c.FillPath(); }},
    {63, 8, [](TCanvas& c, const TReader&) { c.StrokeAndFillPath(); }},
    {64, 8, [](TCanvas& c, const TReader&) { c.StrokePath(); }},
    {67, 12, [](TCanvas& c, const TReader& r) { c.SelectClipPath(static_cast<TRegionMode>(r.U32(8))); }},
    {68, 8, [](TCanvas& c, const TReader&) { c.AbortPath(); }},
    {71, 32, PlayFillRegion},
    {74, 28, [](TCanvas& c, const TReader& r) { c.FillRegion(RegionAt(r, 28), c.CurrentBrush()); }},
    {75, 16,
     [](TCanvas& c, const TReader& r) {
       const auto mode = static_cast<TRegionMode>(r.U32(12));
       c.SelectClipRegion(r.U32(8) == 0 ? std::vector<TBoxD>{} : RegionAt(r, 16), mode);
     }},
    {76, 100, [](TCanvas& c, const TReader& r) { PlayBitmap(c, r, BlitFields(r, false), r.U32(40), false); }},
    {77, 108, [](TCanvas& c, const TReader& r) { PlayBitmap(c, r, BlitFields(r, true), r.U32(40), false); }},
    {80, 76, PlaySetDiBitsToDevice},
    {81, 80, PlayStretchDiBits},
    {82, 36, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), FontObject(r.S32(12), r.S32(20), r.S32(28), r.U8(32), r.U8(33), r.U8(34))); }},
    {83, 76, [](TCanvas& c, const TReader& r) { PlayText(c, r, false); }},
    {84, 76, [](TCanvas& c, const TReader& r) { PlayText(c, r, true); }},
    {85, 28, [](TCanvas& c, const TReader& r) { c.PolyBezier(CountedPoints(r, true)); }},
    {86, 28, [](TCanvas& c, const TReader& r) { c.Polygon(CountedPoints(r, true)); }},
    {87, 28, [](TCanvas& c, const TReader& r) { c.Polyline(CountedPoints(r, true)); }},
    {88, 28, [](TCanvas& c, const TReader& r) { c.PolyBezierTo(CountedPoints(r, true)); }},
    {89, 28, [](TCanvas& c, const TReader& r) { c.PolylineTo(CountedPoints(r, true)); }},
    {90, 32, [](TCanvas& c, const TReader& r) { c.PolyPolyline(CountedPolygons(r, true)); }},
    {91, 32, [](TCanvas& c, const TReader& r) { c.PolyPolygon(CountedPolygons(r, true)); }},
    {92, 28, [](TCanvas& c, const TReader& r) { PlayPolyDraw(c, r, true); }},
    {93, 32, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), PatternBrushObject(r)); }},
    {94, 32, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), PatternBrushObject(r)); }},
    {95, 52, [](TCanvas& c, const TReader& r) { c.CreateObjectAt(r.U32(8), ExtendedPenObject(r)); }},
    {108, 36, PlaySmallText},
    {114, 108, PlayAlphaBlend},
    // A transparent blit is drawn whole: its key colour is not cut out.
    {116, 108, [](TCanvas& c, const TReader& r) { PlayBitmap(c, r, BlitFields(r, true), RopSrcCopy, false); }},
};

constexpr std::uint32_t HighestType = 122;

const std::array<const TEmfRecordKind*, HighestType + 1>& RecordTable() {
  static const std::array<const TEmfRecordKind*, HighestType + 1> table = [] {
    std::array<const TEmfRecordKind*, HighestType + 1> byType{};
    for (const TEmfRecordKind& kind : RecordKinds) byType[kind.Type] = &kind;
    return byType;
  }();
  return table;
}

}  // namespace

void PlayEmf(const TMetafileHeader& header, const std::uint8_t* data, std::size_t size, TMetafileCanvas& canvas) {
  const auto& table = RecordTable();
  std::size_t at = header.RecordsStart;
  while (at + RecordHeaderBytes <= size && !canvas.Exhausted()) {
    const std::uint32_t type = LoadLE32(data + at);
    const std::uint32_t bytes = LoadLE32(data + at + 4);
    if (bytes < RecordHeaderBytes || bytes % 4 != 0 || bytes > size - at || type == EmrEof) break;
    const TRecordReader record(data + at, bytes);
    const TEmfRecordKind* kind = type <= HighestType ? table[type] : nullptr;
    if (kind && record.Size() >= kind->MinimumSize) kind->Play(canvas, record);
    canvas.Spend(1);
    at += bytes;
  }
}

}  // namespace driftpost::metafile
