#include "picture/WmfPlayer.h"

#include <algorithm>
#include <array>

#include "picture/MetafileRecord.h"
#include "picture/MetafileText.h"

namespace driftpost::metafile {

namespace {

constexpr std::size_t RecordHeaderBytes = 6;
constexpr std::uint16_t MetaEof = 0x0000;

// The parameters of one record, addressed in 16-bit words as the format lays them out.
struct TWmfRecord {
  std::uint16_t Function;
  TRecordReader Params;

  std::size_t Words() const { return Params.Size() / 2; }
  std::int16_t S(std::size_t word) const { return Params.S16(2 * word); }
  std::uint16_t U(std::size_t word) const { return Params.U16(2 * word); }
  std::uint32_t U32(std::size_t word) const { return Params.U32(2 * word); }
  // Coordinates are stored y first.
  TPointD PointYX(std::size_t word) const { return {double(S(word + 1)), double(S(word))}; }
  // Rectangles are stored bottom, right, top, left.
  TBoxD BoxBRTL(std::size_t word) const {
    return {double(S(word + 3)), double(S(word + 2)), double(S(word + 1)), double(S(word))};
  }
};

using TWmfHandler = void (*)(TMetafileCanvas&, const TWmfRecord&);

std::vector<TPointD> PointsAt(const TWmfRecord& r, std::size_t word, std::size_t count) {
  std::vector<TPointD> points;
  points.reserve(count);
  for (std::size_t i = 0; i < count; ++i) points.push_back({double(r.S(word + 2 * i)), double(r.S(word + 2 * i + 1))});
  return points;
}

// A count of points followed by the points; none when the record does not hold them all.
std::vector<TPointD> CountedPoints(const TWmfRecord& r) {
  const std::size_t count = r.U(0);
  if (!r.Params.Has(2, count, 4)) return {};
  return PointsAt(r, 1, count);
}

TColor ColorAt(const TWmfRecord& r, std::size_t word) { return r.U32(word) & 0xFFFFFF; }

void PlayPolyPolygon(TMetafileCanvas& canvas, const TWmfRecord& r) {
  const std::size_t polygons = r.U(0);
  if (!r.Params.Has(2, polygons, 2)) return;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < polygons; ++i) total += r.U(1 + i);
  const std::size_t first = 1 + polygons;
  if (!r.Params.Has(2 * first, total, 4)) return;
  std::vector<std::vector<TPointD>> list;
  std::size_t word = first;
  for (std::size_t i = 0; i < polygons; ++i) {
    const std::size_t count = r.U(1 + i);
    list.push_back(PointsAt(r, word, count));
    word += 2 * count;
  }
  canvas.PolyPolygon(list);
}

TGdiObject PenObject(const TWmfRecord& r) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Pen;
  const std::uint16_t style = r.U(0);
  object.Pen.Style = style;
  object.Pen.Width = std::abs(r.S(1));
  // A pen of width 0 is a pixel wide whatever the mapping; any other scales with it.
  object.Pen.Cosmetic = object.Pen.Width == 0;
  object.Pen.Color = ColorAt(r, 3);
  return object;
}

TGdiObject DibPatternBrush(const TWmfRecord& r) {
  TGdiObject object;
  object.Kind = TGdiObject::TKind::Brush;
  object.Brush.Style = TBrushStyle::Pattern;
  // Style 3 carries an old device-dependent bitmap, which is only stood in for.
  if (r.U(0) != 3 && r.U(1) == 0) object.Brush.PatternDib = r.Params.Bytes(4, r.Params.Size() - 4);
  return object;
}

// A bitmap record: its bitmap, when it has one, starts at `dibWord`.
void PlayBlit(TMetafileCanvas& canvas, const TWmfRecord& r, std::uint32_t rop, TBoxD source, const TBoxD& target,
              std::size_t dibWord, bool fromBottom) {
  const TBytes dib = r.Params.Bytes(2 * dibWord, r.Params.Size() - std::min(r.Params.Size(), 2 * dibWord));
  if (dib.Size == 0) return canvas.PatBlt(target, rop);
  TDibBlit blit;
  blit.Header = dib;
  blit.Source = source;
  blit.SourceFromBottom = fromBottom;
  blit.Rop = rop;
  canvas.DrawDib(target, blit);
}

// Destination given as height, width, y, x from `word` on.
TBoxD DestinationAt(const TWmfRecord& r, std::size_t word) {
  const double x = r.S(word + 3), y = r.S(word + 2);
  return {x, y, x + r.S(word + 1), y + r.S(word)};
}

void PlayDibBitBlt(TMetafileCanvas& canvas, const TWmfRecord& r) {
  const std::uint32_t rop = r.U32(0);
  if (r.Words() == 9) return canvas.PatBlt(DestinationAt(r, 5), rop);  // no bitmap: a reserved word
  const TBoxD target = DestinationAt(r, 4);
  const double x = r.S(3), y = r.S(2);
  PlayBlit(canvas, r, rop, {x, y, x + target.Width(), y + target.Height()}, target, 8, false);
}

void PlayDibStretchBlt(TMetafileCanvas& canvas, const TWmfRecord& r) {
  const std::uint32_t rop = r.U32(0);
  if (r.Words() == 11) return canvas.PatBlt(DestinationAt(r, 7), rop);
  const double x = r.S(5), y = r.S(4);
  PlayBlit(canvas, r, rop, {x, y, x + r.S(3), y + r.S(2)}, DestinationAt(r, 6), 10, false);
}

void PlayStretchDib(TMetafileCanvas& canvas, const TWmfRecord& r) {
  if (r.U(2) != 0) return;  // colours as palette indices: there is no palette to look them up in
  const double x = r.S(6), y = r.S(5);
  PlayBlit(canvas, r, r.U32(0), {x, y, x + r.S(4), y + r.S(3)}, DestinationAt(r, 7), 11, true);
}

void PlaySetDibToDevice(TMetafileCanvas& canvas, const TWmfRecord& r) {
  if (r.U(0) != 0) return;
  const double x = r.S(4), y = r.S(3), width = r.S(6), height = r.S(5);
  const double left = r.S(8), top = r.S(7);
  PlayBlit(canvas, r, RopSrcCopy, {x, y, x + width, y + height}, {left, top, left + width, top + height}, 9, true);
}

void PlayTextOut(TMetafileCanvas& canvas, const TWmfRecord& r) {
  const std::size_t length = r.U(0);
  const std::size_t padded = (length + 1) / 2;
  if (!r.Params.Has(2, length, 1) || r.Words() < 1 + padded + 2) return;
  const std::string text = AnsiToUtf8(r.Params.Data() + 2, length);
  canvas.TextOut(r.PointYX(1 + padded), text, {}, 0, std::nullopt);
}

void PlayExtTextOut(TMetafileCanvas& canvas, const TWmfRecord& r) {
  const std::size_t length = r.U(2);
  const unsigned options = r.U(3);
  std::size_t word = 4;
  std::optional<TBoxD> box;
  if (options & 6) {  // opaque or clipped: a rectangle left, top, right, bottom
    box = TBoxD{double(r.S(4)), double(r.S(5)), double(r.S(6)), double(r.S(7))};
    word = 8;
  }
  if (!r.Params.Has(2 * word, length, 1)) return;
  const std::string text = AnsiToUtf8(r.Params.Data() + 2 * word, length);
  std::vector<double> advances;
  const std::size_t dx = word + (length + 1) / 2;
  if (r.Params.Has(2 * dx, length, 2))
    for (std::size_t i = 0; i < length; ++i) advances.push_back(r.S(dx + i));
  canvas.TextOut(r.PointYX(0), text, advances, options, box);
}

void PlayArc(TMetafileCanvas& canvas, const TWmfRecord& r, TMetafileCanvas::TArcKind kind) {
  canvas.Arc(kind, r.BoxBRTL(4), r.PointYX(2), r.PointYX(0));
}

struct TWmfRecordKind {
  std::uint16_t Function;
  std::uint16_t MinimumWords;
  TWmfHandler Play;
};

using TArc = TMetafileCanvas::TArcKind;

// Every record that draws or changes the state; the others are passed over.
constexpr TWmfRecordKind RecordKinds[] = {
    {0x001E, 0, [](TMetafileCanvas& c, const TWmfRecord&) { c.SaveDC(); }},
    {0x0127, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.RestoreDC(r.S(0)); }},
    {0x0201, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetBackColor(ColorAt(r, 0)); }},
    {0x0102, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetBackMode(r.U(0)); }},
    {0x0103, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetMapMode(r.U(0)); }},
    {0x0104, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetRop2(r.U(0)); }},
    {0x0106, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetPolyFillMode(r.U(0)); }},
    {0x0209, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetTextColor(ColorAt(r, 0)); }},
    {0x012E, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetTextAlign(r.U(0)); }},
    {0x020B, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetWindowOrg(r.PointYX(0)); }},
    {0x020C, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetWindowExt(r.PointYX(0)); }},
    {0x020F, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.OffsetWindowOrg(r.PointYX(0)); }},
    {0x0410, 4,
     [](TMetafileCanvas& c, const TWmfRecord& r) { c.ScaleWindowExt(r.S(3), r.S(2), r.S(1), r.S(0)); }},
    {0x0213, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.LineTo(r.PointYX(0)); }},
    {0x0214, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.MoveTo(r.PointYX(0)); }},
    {0x0415, 4, [](TMetafileCanvas& c, const TWmfRecord& r) { c.ExcludeClipRect(r.BoxBRTL(0)); }},
    {0x0416, 4, [](TMetafileCanvas& c, const TWmfRecord& r) { c.IntersectClipRect(r.BoxBRTL(0)); }},
    {0x0220, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.OffsetClip(r.PointYX(0)); }},
    {0x0817, 8, [](TMetafileCanvas& c, const TWmfRecord& r) { PlayArc(c, r, TArc::Arc); }},
    {0x081A, 8, [](TMetafileCanvas& c, const TWmfRecord& r) { PlayArc(c, r, TArc::Pie); }},
    {0x0830, 8, [](TMetafileCanvas& c, const TWmfRecord& r) { PlayArc(c, r, TArc::Chord); }},
    {0x0418, 4, [](TMetafileCanvas& c, const TWmfRecord& r) { c.Ellipse(r.BoxBRTL(0)); }},
    {0x041B, 4, [](TMetafileCanvas& c, const TWmfRecord& r) { c.Rectangle(r.BoxBRTL(0)); }},
    {0x061C, 6, [](TMetafileCanvas& c, const TWmfRecord& r) { c.RoundRect(r.BoxBRTL(2), r.PointYX(0)); }},
    {0x061D, 6, [](TMetafileCanvas& c, const TWmfRecord& r) { c.PatBlt(DestinationAt(r, 2), r.U32(0)); }},
    {0x041F, 4, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SetPixel(r.PointYX(2), ColorAt(r, 0)); }},
    {0x0521, 3, PlayTextOut},
    {0x0A32, 4, PlayExtTextOut},
    {0x0324, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.Polygon(CountedPoints(r)); }},
    {0x0325, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.Polyline(CountedPoints(r)); }},
    {0x0538, 1, PlayPolyPolygon},
    {0x012D, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.SelectObject(r.U(0)); }},
    {0x01F0, 1, [](TMetafileCanvas& c, const TWmfRecord& r) { c.DeleteObject(r.U(0)); }},
    {0x02FA, 5, [](TMetafileCanvas& c, const TWmfRecord& r) { c.CreateObjectAtFreeSlot(PenObject(r)); }},
    {0x02FC, 4, [](TMetafileCanvas& c, const TWmfRecord& r) { c.CreateObjectAtFreeSlot(BrushObject(r.U(0), ColorAt(r, 1), r.U(3))); }},
    {0x02FB, 9, [](TMetafileCanvas& c, const TWmfRecord& r) { c.CreateObjectAtFreeSlot(
           FontObject(r.S(0), r.S(2), r.S(4), r.Params.U8(10), r.Params.U8(11), r.Params.U8(12))); }},
    {0x0142, 2, [](TMetafileCanvas& c, const TWmfRecord& r) { c.CreateObjectAtFreeSlot(DibPatternBrush(r)); }},
    {0x01F9, 0,
     [](TMetafileCanvas& c, const TWmfRecord&) {
       TGdiObject brush;
       brush.Kind = TGdiObject::TKind::Brush;
       brush.Brush.Style = TBrushStyle::Pattern;
       c.CreateObjectAtFreeSlot(brush);
     }},
    // Palettes and regions take a slot in the table too, though they draw nothing here.
    {0x00F7, 0, [](TMetafileCanvas& c, const TWmfRecord&) { c.CreateObjectAtFreeSlot(TGdiObject{}); }},
    {0x06FF, 0, [](TMetafileCanvas& c, const TWmfRecord&) { c.CreateObjectAtFreeSlot(TGdiObject{}); }},
    {0x0940, 8, PlayDibBitBlt},
    {0x0B41, 10, PlayDibStretchBlt},
    {0x0F43, 11, PlayStretchDib},
    {0x0D33, 9, PlaySetDibToDevice},
    // The old bitmap blits: without a bitmap they paint with the brush; their
    // device-dependent bitmaps are not drawn.
    {0x0922, 7,
     [](TMetafileCanvas& c, const TWmfRecord& r) {
       if (r.Words() == 9) c.PatBlt(DestinationAt(r, 5), r.U32(0));
     }},
    {0x0B23, 9,
     [](TMetafileCanvas& c, const TWmfRecord& r) {
       if (r.Words() == 11) c.PatBlt(DestinationAt(r, 7), r.U32(0));
     }},
};

// Records by the low byte of their function number, which tells them apart.
const std::array<const TWmfRecordKind*, 256>& RecordTable() {
  static const std::array<const TWmfRecordKind*, 256> table = [] {
    std::array<const TWmfRecordKind*, 256> byLowByte{};
    for (const TWmfRecordKind& kind : RecordKinds) byLowByte[kind.Function & 0xFF] = &kind;
    return byLowByte;
  }();
  return table;
}

}  // namespace

void PlayWmf(const TMetafileHeader& header, const std::uint8_t* data, std::size_t size, TMetafileCanvas& canvas) {
  canvas.SetMapMode(mmAnisotropic);
  canvas.SetWindowOrg({header.Window.Left, header.Window.Top});
  canvas.SetWindowExt({header.Window.Width(), header.Window.Height()});
  const auto& table = RecordTable();
  std::size_t at = header.RecordsStart;
  while (at + RecordHeaderBytes <= size && !canvas.Exhausted()) {
    const std::uint64_t bytes = std::uint64_t{LoadLE32(data + at)} * 2;
    const std::uint16_t function = LoadLE16(data + at + 4);
    if (function == MetaEof || bytes < RecordHeaderBytes || bytes > size - at) break;
    const TWmfRecord record{function, TRecordReader(data + at + RecordHeaderBytes, bytes - RecordHeaderBytes)};
    const TWmfRecordKind* kind = table[function & 0xFF];
    if (kind && kind->Function == function && record.Words() >= kind->MinimumWords) kind->Play(canvas, record);
    canvas.Spend(1);
    at += static_cast<std::size_t>(bytes);
  }
}

}  // namespace driftpost::metafile
