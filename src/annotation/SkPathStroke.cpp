#include "annotation/SkPathStroke.h"

#include <cmath>

namespace skm {

namespace {

constexpr uint32_t kLiveEraserColor = 0x44FFFFFF; // the eraser's trail while dragging
constexpr uint32_t kOpaque = 0xFF000000;

bool IsBrush(TPathKind k) { return k == TPathKind::pkBrush0 || k == TPathKind::pkBrush1; }

} // namespace

uint32_t PremultiplyColor(uint32_t color) {
  const uint32_t a = color >> 24;
  if (a == 0) return 0;
  if (a == 0xFF) return color;
  const uint32_t r = ((color >> 16) & 0xFF) * a / 255;
  const uint32_t g = ((color >> 8) & 0xFF) * a / 255;
  const uint32_t b = (color & 0xFF) * a / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

TStrokeSettings StrokeSettingsGet(const TStrokeStyle& s, float zoom, TStrokeTarget target) {
  TStrokeSettings pen;
  pen.Dash = s.Dash;
  pen.RoundCap = ColorAlpha(s.Color) == 0xFF;
  pen.Thickness = s.Thickness * zoom;
  switch (target) {
  case TStrokeTarget::Live:
    pen.Color = s.Kind == TPathKind::pkErase ? kLiveEraserColor : s.Color;
    break;
  case TStrokeTarget::ColorBitmap:
    // The colour bitmap holds premultiplied colour at full alpha; the mask carries the
    // coverage, so erasers (alpha 0) paint black here and clear through the mask.
    pen.Color = PremultiplyColor(s.Color) | kOpaque;
    break;
  case TStrokeTarget::MaskBitmap:
    pen.Color = kOpaque + ColorAlpha(s.Color) * 0x010101u;
    break;
  }
  return pen;
}

std::array<uint32_t, 7> RainbowColorsGet(uint32_t color, TStrokeTarget target) {
  std::array<uint32_t, 7> t = kRainbowColors;
  const uint8_t a = ColorAlpha(color);
  for (uint32_t& c : t) {
    switch (target) {
    case TStrokeTarget::Live: c = WithAlpha(c, a); break;
    case TStrokeTarget::ColorBitmap: c = PremultiplyColor(WithAlpha(c, a)) | kOpaque; break;
    case TStrokeTarget::MaskBitmap: break;
    }
  }
  return t;
}

double BrushSpeedFactor(double v) { return 0.5 - std::tanh(v / kBrushSpeedScale * 6 - 3) / 2 + 0.01; }

double TBrushWidth::Next(double lengthView, double zoom) {
  // A zero zoom would make every length infinite; treat it as a resting pointer.
  const double v = zoom != 0 ? lengthView / zoom : 0.0;
  FE += (BrushSpeedFactor(v) - FE) * kBrushSmoothing;
  return FE;
}

TStrokePlan StrokePlanGet(const TStrokeStyle& s, float zoom, TStrokeTarget target, const TPathData& outline) {
  TStrokePlan plan;
  plan.Pen = StrokeSettingsGet(s, zoom, target);
  const bool brush = IsBrush(s.Kind);
  const bool rainbow = IsRainbowColor(s.Color);
  if (target == TStrokeTarget::MaskBitmap || (!brush && !rainbow)) return plan;

  plan.Whole = false;
  const std::vector<TPointF>& q = outline.Points;
  if (q.size() < 2) return plan;
  const std::array<uint32_t, 7> table = RainbowColorsGet(s.Color, target);
  TBrushWidth width;
  plan.Segments.reserve(q.size() - 1);
  for (size_t k = 0; k + 1 < q.size(); ++k) {
    TStrokeSegment seg;
    seg.P = q[k];
    seg.Q = q[k + 1];
    seg.Color = rainbow ? table[k % table.size()] : plan.Pen.Color;
    if (brush) {
      const double len = std::hypot(static_cast<double>(seg.Q.X) - seg.P.X, static_cast<double>(seg.Q.Y) - seg.P.Y);
      seg.Thickness = static_cast<float>(s.Thickness * width.Next(len, zoom) * zoom);
    } else {
      seg.Thickness = plan.Pen.Thickness;
    }
    plan.Segments.push_back(seg);
  }
  return plan;
}

} // namespace skm
