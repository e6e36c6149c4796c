// Character conversion, and the canvas's text output: glyphs of one sans-serif face from
// Cairo's own font selection, placed as the record says.
#include "picture/MetafileText.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "picture/ByteOrder.h"
#include "picture/MetafileCanvas.h"
#include "platform/TextUtils.h"

namespace driftpost::metafile {

namespace {

// Code page 1252 from 0x80 to 0x9F; 0 where it has no character.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char32_t Replacement = 0xFFFD;
constexpr const char* FaceName = "DejaVu Sans";
// The text a font of height 0 gets: the size of the usual screen font.
constexpr double DefaultEmPixels = 12;

}  // namespace

std::string AnsiToUtf8(const std::uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = data[i];
    char32_t value = c;
    if (c >= 0x80 && c < 0xA0) value = Windows1252High[c - 0x80] ? Windows1252High[c - 0x80] : Replacement;
    if (c == 0) value = Replacement;
    EncodeUtf8(value, out);
  }
  return out;
}

std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t count) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t value = LoadLE16(data + 2 * i);
    if (value >= 0xD800 && value < 0xDC00 && i + 1 < count) {
      const char32_t low = LoadLE16(data + 2 * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if ((value >= 0xD800 && value < 0xE000) || value == 0) value = Replacement;
    EncodeUtf8(value, out);
  }
  return out;
}

void TMetafileCanvas::TextOut(TPointD point, const std::string& text, const std::vector<double>& advances,
                              unsigned options, const std::optional<TBoxD>& box) {
  constexpr unsigned Opaque = 2, Clipped = 4;
  const TMatrix m = LogicalToTile();
  const bool updatePosition = state_.TextAlign & TaUpdateCp;
  if (updatePosition) point = state_.Position;
  const TPointD anchor = m.Apply(point);
  budget_.Spend(static_cast<double>(text.size()) + 8);
  if (!(std::abs(anchor.X) < 1e9 && std::abs(anchor.Y) < 1e9) || budget_.Exhausted()) return;

  ApplyClip();
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  if (box) {
    const TFigures rectangle = RectangleFigures(*box);
    const std::vector<TPointD> area = ClipPolygon(rectangle[0].Points, GuardBox(2));
    if (AllFinite(rectangle) && area.size() >= 3 && (options & (Opaque | Clipped))) {
      cairo_new_path(cr_);
      cairo_move_to(cr_, area[0].X, area[0].Y);
      for (const TPointD& p : area) cairo_line_to(cr_, p.X, p.Y);
      cairo_close_path(cr_);
      if (options & Opaque) {
        cairo_set_source_rgb(cr_, RedOf(state_.BackColor) / 255.0, GreenOf(state_.BackColor) / 255.0,
                             BlueOf(state_.BackColor) / 255.0);
        cairo_fill_preserve(cr_);
      }
      if (options & Clipped) cairo_clip(cr_);
      cairo_new_path(cr_);
    }
  }

  // The font: its height is the character height when negative, the cell height (with the
  // room above the letters) when positive.
  const TFont& font = state_.Font;
  const double scaleY = m.ScaleY(), scaleX = m.ScaleX();
  cairo_select_font_face(cr_, FaceName, font.Italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         font.Weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, 1);
  cairo_font_extents_t unit;
  cairo_font_extents(cr_, &unit);
  double em = font.Height == 0   ? DefaultEmPixels * std::sqrt(std::abs(toTile_.Determinant()))
              : font.Height < 0 ? -font.Height * scaleY
                                : font.Height * scaleY / std::max(unit.ascent + unit.descent, 0.5);
  // Glyphs larger than the picture cannot be told apart; they are drawn at that size.
  em = std::min(em, 2 * std::max(clip_.Width(), clip_.Height()) + 64);
  if (!(em >= 0.25) || text.empty()) {
    cairo_restore(cr_);
    return;
  }
  cairo_set_font_size(cr_, em);
  cairo_font_extents_t extents;
  cairo_font_extents(cr_, &extents);

  cairo_glyph_t* glyphs = nullptr;
  int count = 0;
  cairo_scaled_font_t* scaled = cairo_get_scaled_font(cr_);
  if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, text.data(), static_cast<int>(text.size()), &glyphs, &count,
                                       nullptr, nullptr, nullptr) != CAIRO_STATUS_SUCCESS ||
      count <= 0) {
    cairo_glyph_free(glyphs);
    cairo_restore(cr_);
    return;
  }
  budget_.Spend(count * std::min(em * em / 2, clip_.Width() * clip_.Height()));

  // Where each glyph goes along the baseline: the record's advances, or the font's own.
  cairo_text_extents_t last;
  cairo_scaled_font_glyph_extents(scaled, &glyphs[count - 1], 1, &last);
  double width = glyphs[count - 1].x + last.x_advance;
  if (!advances.empty()) {
    double x = 0;
    for (int i = 0; i < count; ++i) {
      glyphs[i].x = x;
      const std::size_t at = static_cast<std::size_t>(i);
      double step = at < advances.size() ? advances[at] * scaleX : last.x_advance;
      if (!std::isfinite(step)) step = 0;
      x += std::clamp(step, -1e7, 1e7);
    }
    width = x;
  }
  const unsigned horizontal = state_.TextAlign & TaCenter, vertical = state_.TextAlign & TaBaseline;
  const double shiftX = horizontal == TaCenter ? -width / 2 : horizontal == TaRight ? -width : 0;
  const double shiftY = vertical == TaBaseline ? 0 : vertical == TaBottom ? -extents.descent : extents.ascent;
  for (int i = 0; i < count; ++i) {
    glyphs[i].x += shiftX;
    glyphs[i].y = shiftY;
  }

  // The escapement turns the line counter-clockwise as the picture shows it.
  const double angle = std::isfinite(font.Escapement) ? -font.Escapement / 10 * std::numbers::pi / 180 : 0;
  cairo_translate(cr_, anchor.X, anchor.Y);
  cairo_rotate(cr_, angle);
  if (state_.OpaqueBackground && !(options & Opaque)) {
    cairo_set_source_rgb(cr_, RedOf(state_.BackColor) / 255.0, GreenOf(state_.BackColor) / 255.0,
                         BlueOf(state_.BackColor) / 255.0);
    cairo_rectangle(cr_, shiftX, shiftY - extents.ascent, width, extents.ascent + extents.descent);
    cairo_fill(cr_);
  }
  const TColor color = state_.TextColor;
  cairo_set_source_rgb(cr_, RedOf(color) / 255.0, GreenOf(color) / 255.0, BlueOf(color) / 255.0);
  cairo_show_glyphs(cr_, glyphs, count);
  const double thickness = std::max(1.0, em / 14);
  if (font.Underline) cairo_rectangle(cr_, shiftX, shiftY + extents.descent / 2, width, thickness);
  if (font.StrikeOut) cairo_rectangle(cr_, shiftX, shiftY - em * 0.3, width, thickness);
  if (font.Underline || font.StrikeOut) cairo_fill(cr_);
  cairo_glyph_free(glyphs);
  cairo_restore(cr_);

  if (updatePosition) {
    // The current position moves on by the text's width along the baseline.
    TMatrix inverse;
    if (m.Invert(inverse)) {
      const TPointD end{anchor.X + width * std::cos(angle), anchor.Y + width * std::sin(angle)};
      state_.Position = inverse.Apply(end);
    }
  }
}

}  // namespace driftpost::metafile
